#!/usr/bin/env escript
%% Encodes test values with Erlang/OTP's asn1 (BER) and writes
%% ber_vectors.txt beside this script. Run from anywhere:
%%   escript tests/asn1/ber/gen_vectors.escript
%% The PerTest values are those of ../per/gen_vectors.escript (same seed,
%% same generator, loaded from that script) encoded in BER instead; the
%% BerTest values are listed below. Line format as in per_vectors.txt; every
%% line is "both": our encoder must give Hex and our decoder the value.
-mode(compile).

main(_) ->
    Dir = filename:absname(filename:dirname(escript:script_name())),
    Tmp = filename:join("/tmp", "bertest_" ++ os:getpid()),
    ok = filelib:ensure_dir(filename:join(Tmp, "x")),
    PerDir = filename:join(filename:dirname(Dir), "per"),
    ok = asn1ct:compile(filename:join(PerDir, "PerTest.asn"), [ber, {outdir, Tmp}]),
    ok = asn1ct:compile(filename:join(Dir, "BerTest.asn"), [ber, {outdir, Tmp}]),
    true = code:add_patha(Tmp),
    {module, 'PerTest'} = code:load_file('PerTest'),
    {module, 'BerTest'} = code:load_file('BerTest'),
    load_generator(filename:join(PerDir, "gen_vectors.escript"), Tmp),
    rand:seed(exsss, {17, 42, 4711}),
    PerLines = lists:flatmap(fun pervec:vectors/1, pervec:types()),
    BerLines = [line('BerTest', T, E, D) || {T, E, D} <- ber_values()],
    Out = filename:join(Dir, "ber_vectors.txt"),
    Lines = PerLines ++ BerLines,
    ok = file:write_file(Out, [[L, $\n] || L <- Lines]),
    io:format("~b vectors written to ~s~n", [length(Lines), Out]),
    os:cmd("rm -rf " ++ Tmp).

%% The PER script's functions as module pervec, with two replaced: line/2
%% (every vector is "both" in BER) and any/1 (an open value holds one
%% complete BER element, here an OCTET STRING).
load_generator(Script, Tmp) ->
    {ok, Text} = file:read_file(Script),
    [_Shebang, Body] = binary:split(Text, <<"\n">>),
    Src = filename:join(Tmp, "pervec.erl"),
    ok = file:write_file(Src, [<<"-module(pervec).\n-compile([export_all, nowarn_export_all]).\n">>, Body]),
    {ok, Forms0} = epp:parse_file(Src, []),
    Replaced = [{line, 2}, {any, 1}],
    Kept = [F || F <- Forms0,
                 not (element(1, F) =:= function andalso
                      lists:member({element(3, F), element(4, F)}, Replaced))],
    {Head, [Eof]} = lists:split(length(Kept) - 1, Kept),
    Mine = [form("line(Type, {Erl, Desc, _}) -> 'BerTestGen':line('PerTest', Type, Erl, Desc)."),
            form("any(N) -> 'BerTestGen':any(N).")],
    {ok, pervec, Bin} = compile:forms(Head ++ Mine ++ [Eof], [nowarn_unused_function]),
    {module, pervec} = code:load_binary(pervec, Src, Bin),
    %% this script's own functions, for the replaced ones to call
    {ok, 'BerTestGen', Own} = compile:forms(own_forms(), []),
    {module, 'BerTestGen'} = code:load_binary('BerTestGen', "BerTestGen", Own).

form(S) ->
    {ok, Tokens, _} = erl_scan:string(S),
    {ok, F} = erl_parse:parse_form(Tokens),
    F.

own_forms() ->
    [form("-module('BerTestGen')."),
     form("-export([line/4, any/1])."),
     form("line(Mod, Type, Erl, Desc) ->
               {ok, Bin} = Mod:encode(Type, Erl),
               {ok, Back} = Mod:decode(Type, Bin),
               {ok, Bin} = Mod:encode(Type, Back),
               lists:flatten([atom_to_list(Type), \" both \",
                              [io_lib:format(\"~2.16.0b\", [X]) || <<X>> <= Bin], \" \", Desc])."),
     form("any(N) ->
               B = list_to_binary([rand:uniform(256) - 1 || _ <- lists:seq(1, N)]),
               E = <<4, N, B/binary>>,
               {E, \"x\" ++ lists:flatten([io_lib:format(\"~2.16.0b\", [X]) || <<X>> <= E]), false}.")].

line(Mod, Type, Erl, Desc) -> 'BerTestGen':line(Mod, Type, Erl, Desc).

hex(L) -> lists:flatten([io_lib:format("~2.16.0b", [X]) || X <- L]).

ber_values() ->
    [{'AppInt', V, integer_to_list(V)} || V <- [0, -1, 127, 128, 300, -129, 2147483647, -2147483648]] ++
    [{'PrivBool', true, "T"}, {'PrivBool', false, "F"}] ++
    [{'BigTag', list_to_binary(L), "x" ++ hex(L)} || L <- [[], [1, 2, 3], lists:seq(0, 199)]] ++
    [{'Signed', minus, "-1"}, {'Signed', zero, "0"}, {'Signed', big, "1000"}] ++
    [{'Alt', {num, -5}, "0:-5"}, {'Alt', {text, "abc"}, "1:s616263"}, {'Alt', {flag, true}, "2:T"}] ++
    [{'Tagged', {a, -7}, "0:-7"}, {'Tagged', {b, 'NULL'}, "1:N"}] ++
    [{'Nested', {inner, {num, 3}}, "0:0:3"}, {'Nested', {inner, {flag, false}}, "0:2:F"},
     {'Nested', {inner, {text, ""}}, "0:1:s"}, {'Nested', {other, 9}, "1:9"}] ++
    [{'Empty', {'Empty', asn1_NOVALUE, asn1_NOVALUE}, "{_,_}"},
     {'Empty', {'Empty', 5, asn1_NOVALUE}, "{5,_}"},
     {'Empty', {'Empty', asn1_NOVALUE, true}, "{_,T}"}] ++
    [{'Rec', {'Rec', 1, asn1_NOVALUE, {num, 2}, asn1_NOVALUE, [], asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE},
      "{1,_,0:2,_,[],_,_,_}"},
     {'Rec', {'Rec', -300, "name", {flag, false}, {text, "x"}, [1, -1, 70000], 42, <<255, 0>>, true},
      "{-300,s6e616d65,2:F,1:s78,[1,-1,70000],42,xff00,T}"},
     {'Rec', {'Rec', 0, asn1_NOVALUE, {text, "t"}, {num, 1000}, [0], asn1_NOVALUE, list_to_binary(lists:seq(1, 130)),
              asn1_NOVALUE},
      "{0,_,1:s74,0:1000,[0],_,x" ++ hex(lists:seq(1, 130)) ++ ",_}"}].
