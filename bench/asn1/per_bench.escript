#!/usr/bin/env escript
%% Times Erlang/OTP's aligned-PER codec on the benchmark message.
%%   escript per_bench.escript Count
%% Prints: encode <per second> decode <per second> octets <hex>
-mode(compile).

main([CountText]) ->
    Count = list_to_integer(CountText),
    Dir = filename:absname(filename:dirname(escript:script_name())),
    Tmp = filename:join("/tmp", "perbench_" ++ os:getpid()),
    ok = filelib:ensure_dir(filename:join(Tmp, "x")),
    ok = asn1ct:compile(filename:join(Dir, "PerBench.asn"), [per, {outdir, Tmp}]),
    true = code:add_patha(Tmp),
    {module, 'PerBench'} = code:load_file('PerBench'),
    os:cmd("rm -rf " ++ Tmp),
    Items = [{'Item', I * 100, case I rem 2 of 0 -> I * 10; 1 -> asn1_NOVALUE end, I rem 3 =:= 0}
             || I <- lists:seq(1, 8)],
    Msg = {'Message', 4711, 513, {command, {connect, {'Connect', 77, [1, 2, 3]}}}, Items,
           "gateway board 1, trunk 3"},
    {ok, Bin} = 'PerBench':encode('Message', Msg),
    {ok, Msg} = 'PerBench':decode('Message', Bin),
    Enc = rate(fun() -> {ok, _} = 'PerBench':encode('Message', Msg) end, Count),
    Dec = rate(fun() -> {ok, _} = 'PerBench':decode('Message', Bin) end, Count),
    io:format("encode ~b decode ~b octets ~s~n",
              [Enc, Dec, lists:flatten([io_lib:format("~2.16.0b", [X]) || <<X>> <= Bin])]).

rate(F, Count) ->
    loop(F, Count div 10),
    T0 = erlang:monotonic_time(nanosecond),
    loop(F, Count),
    T1 = erlang:monotonic_time(nanosecond),
    round(Count * 1.0e9 / max(1, T1 - T0)).

loop(_, 0) -> ok;
loop(F, N) -> F(), loop(F, N - 1).
