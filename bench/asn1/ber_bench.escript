#!/usr/bin/env escript
%% Times Erlang/OTP's BER codec on one PerTest value given as its BER octets.
%%   escript ber_bench.escript Type Hex Count
%% Prints: encode <per second> decode <per second>
-mode(compile).

main([TypeText, Hex, CountText]) ->
    Type = list_to_atom(TypeText),
    Count = list_to_integer(CountText),
    Dir = filename:absname(filename:dirname(escript:script_name())),
    Asn = filename:join([Dir, "..", "..", "tests", "asn1", "per", "PerTest.asn"]),
    Tmp = filename:join("/tmp", "berbench_" ++ os:getpid()),
    ok = filelib:ensure_dir(filename:join(Tmp, "x")),
    ok = asn1ct:compile(Asn, [ber, {outdir, Tmp}]),
    true = code:add_patha(Tmp),
    {module, 'PerTest'} = code:load_file('PerTest'),
    os:cmd("rm -rf " ++ Tmp),
    Bin = << <<(list_to_integer([A, B], 16))>> || <<A, B>> <= list_to_binary(Hex) >>,
    {ok, Value} = 'PerTest':decode(Type, Bin),
    {ok, Bin} = 'PerTest':encode(Type, Value),
    Enc = rate(fun() -> {ok, _} = 'PerTest':encode(Type, Value) end, Count),
    Dec = rate(fun() -> {ok, _} = 'PerTest':decode(Type, Bin) end, Count),
    io:format("encode ~b decode ~b~n", [Enc, Dec]).

rate(F, Count) ->
    loop(F, Count div 10),
    T0 = erlang:monotonic_time(nanosecond),
    loop(F, Count),
    T1 = erlang:monotonic_time(nanosecond),
    round(Count * 1.0e9 / max(1, T1 - T0)).

loop(_, 0) -> ok;
loop(F, N) -> F(), loop(F, N - 1).
