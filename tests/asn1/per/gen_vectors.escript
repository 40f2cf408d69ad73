#!/usr/bin/env escript
%% Encodes values of the PerTest types with Erlang/OTP's asn1 (aligned PER)
%% and writes per_vectors.txt beside this script. Run from anywhere:
%%   escript tests/asn1/per/gen_vectors.escript
%% Each line: Type Mode Hex Value
%%   Mode "both": our encoder must give Hex and our decoder the value.
%%   Mode "dec":  the value holds extension additions without the last one;
%%                our encoder sizes the extension map to the additions the
%%                value holds, so only decoding (and re-encoding what was
%%                decoded) is compared.
%%   Value: N null, T/F boolean, decimal number (INTEGER, ENUMERATED),
%%   x<hex> octets (OCTET STRING, open type), s<hex> characters (IA5String,
%%   NumericString, GeneralizedTime), w<hex4...> BMP characters, b<0|1...>
%%   bits, o<arc.arc...> object identifier, {f,f,...} SEQUENCE fields in
%%   order with _ for an absent one, I:v CHOICE alternative I, [v,...] list.
-mode(compile).

main(_) ->
    Dir = filename:absname(filename:dirname(escript:script_name())),
    Tmp = filename:join("/tmp", "pertest_" ++ os:getpid()),
    ok = filelib:ensure_dir(filename:join(Tmp, "x")),
    ok = asn1ct:compile(filename:join(Dir, "PerTest.asn"), [per, {outdir, Tmp}]),
    true = code:add_patha(Tmp),
    {module, 'PerTest'} = code:load_file('PerTest'),
    rand:seed(exsss, {17, 42, 4711}),
    Lines = lists:flatmap(fun vectors/1, types()),
    Out = filename:join(Dir, "per_vectors.txt"),
    ok = file:write_file(Out, [[L, $\n] || L <- Lines]),
    io:format("~b vectors written to ~s~n", [length(Lines), Out]),
    os:cmd("rm -rf " ++ Tmp).

types() ->
    ['Bit1', 'Int7', 'Int255', 'Int256', 'Signed8', 'Int1024', 'Int65536',
     'Int65537', 'Wide', 'Word', 'Fixed', 'Plain', 'ExtInt', 'ExtNeg', 'Flag', 'Nothing',
     'Colour', 'Mode', 'Octets', 'Octets10', 'Octets3', 'OctetsExt', 'Text',
     'Name', 'Short', 'Digits', 'Wide16', 'Bits', 'Bits12', 'Bits24', 'Bits20', 'Oid',
     'Time', 'Bytes', 'Names', 'Pair', 'Grown', 'Pick', 'PickExt', 'Single',
     'Holder', 'Picks', 'Deep', 'Octets64K', 'Octets64K1', 'Bytes64K', 'WideEnds'].

t('Bit1') -> {int, 0, 1};
t('Int7') -> {int, 0, 127};
t('Int255') -> {int, 1, 255};
t('Int256') -> {int, 0, 255};
t('Signed8') -> {int, -128, 127};
t('Int1024') -> {int, 0, 1023};
t('Int65536') -> {int, 0, 65535};
t('Int65537') -> {int, 0, 65536};
t('Wide') -> {int, 112000, 399975};
t('Word') -> {int, 0, 4294967295};
t('Fixed') -> {int, 7, 7};
t('Plain') -> plain;
t('ExtInt') -> extint;
t('ExtNeg') -> extneg;
t('Flag') -> bool;
t('Nothing') -> null;
t('Colour') -> {enum, [red, green, blue, cyan, magenta]};
%% Extension values of Mode are sent differently on our links.
t('Mode') -> {enum, [off, on, auto]};
t('Octets') -> {oct, lists:seq(0, 5) ++ [127, 128, 300]};
%% One or two octets after a length that leaves the bit position unaligned
%% are sent unaligned on our links, and no octets at all leave it unaligned
%% (Erlang pads to the octet): those sizes are left out here.
t('Octets10') -> {oct, [3, 4, 5, 6, 7, 8, 9, 10]};
t('Octets3') -> {oct, [3]};
t('OctetsExt') -> {oct, [0, 3, 4, 5, 9, 20]};
t('Text') -> {str, ia5, [0, 1, 2, 3, 10, 127, 128, 200]};
t('Name') -> {str, ia5, lists:seq(1, 64)};
%% Characters of a string whose upper bound times 8 is at most 16 follow
%% the length unaligned on our links.
t('Short') -> {str, ia5, [0]};
t('Digits') -> {str, num, lists:seq(0, 8)};
t('Wide16') -> {bmp, [0, 1, 2, 5, 20]};
t('Bits') -> {bits, [0, 1, 7, 8, 9, 16, 17, 24, 40]};
t('Bits12') -> {bits, [12]};
t('Bits24') -> {bits, [24]};
%% Up to 16 bits after a length are sent unaligned on our links.
t('Bits20') -> {bits, [0, 17, 18, 19, 20]};
t('Octets64K') -> {oct, [0, 1, 2, 3, 127, 128, 255, 256, 300]};
t('Octets64K1') -> {oct, [0, 1, 2, 3, 127, 128, 300]};
t('Bytes64K') -> {list, 'Int256', [0, 1, 2, 127, 128]};
%% The first and last characters of the plane, alone and among others.
t('WideEnds') -> bmp_ends;
t('Oid') -> oid;
t('Time') -> time;
t('Bytes') -> {list, 'Int256', lists:seq(0, 20)};
t('Names') -> {list, 'Name', lists:seq(0, 8)};
t('Pair') -> {seq, 'Pair', [{'Flag', m}, {'Int1024', o}, {'Name', o}, {'Colour', m}], []};
t('Grown') -> {seq, 'Grown', [{'Int7', m}, {'Flag', o}], ['Plain', 'Pair']};
t('Pick') -> {choice, [{slot, 'Int1024'}, {text, 'Text'}, {pair, 'Pair'}], []};
t('PickExt') -> {choice, [{small, 'Int256'}, {flag, 'Flag'}], [{big, 'Plain'}, {grown, 'Grown'}]};
t('Single') -> {choice, [{only, 'Int7'}], []};
t('Holder') -> {seq, 'Holder', [{any, m}, {'Flag', m}], []};
t('Picks') -> {list, 'PickExt', lists:seq(0, 6)};
t('Deep') ->
    {seq, 'Deep',
     [{'Nothing', m}, {'Flag', m}, {'Int7', m}, {'Int1024', m}, {'Word', m},
      {'Plain', m}, {'ExtInt', o}, {'Signed8', m}, {'Colour', m}, {'Mode', o},
      {'Octets', o}, {'Octets10', m}, {'Text', o}, {'Name', m}, {'Digits', o},
      {'Wide16', o}, {'Bits', o}, {'Oid', o}, {'Time', o}, {'Picks', m},
      {'Pick', m}, {'Grown', o}, {'Names', m}, {'Holder', o}],
     ['Grown', 'PickExt']}.

%% How many random values besides the edge values.
count({seq, 'Deep', _, _}) -> 40;
count({seq, _, _, _}) -> 25;
count({choice, _, _}) -> 20;
count({list, _, _}) -> 12;
count(bmp_ends) -> 0;
count(_) -> 6.

vectors(Type) ->
    Def = t(Type),
    Values = edges(Def) ++ [gen(Def) || _ <- lists:seq(1, count(Def))],
    [line(Type, V) || V <- dedup(Values)].

dedup(L) -> dedup(L, #{}).
dedup([], _) -> [];
dedup([{_, D, _} = V | T], Seen) ->
    case maps:is_key(D, Seen) of
        true -> dedup(T, Seen);
        false -> [V | dedup(T, Seen#{D => true})]
    end.

line(Type, {Erl, Desc, Partial}) ->
    {ok, Bin} = 'PerTest':encode(Type, Erl),
    {ok, Back} = 'PerTest':decode(Type, Bin),
    {ok, Bin} = 'PerTest':encode(Type, Back),
    Mode = case Partial of true -> "dec"; false -> "both" end,
    Hex = case Bin of <<>> -> "-"; _ -> hex(Bin) end,
    lists:flatten([atom_to_list(Type), " ", Mode, " ", Hex, " ", Desc]).

%% Edge values of the primitive types; composites have none of their own.
edges({int, L, U}) -> [int(V) || V <- lists:usort([L, L + 1, (L + U) div 2, U - 1, U]), V >= L, V =< U];
edges(plain) ->
    [int(V) || V <- [0, 1, -1, 127, 128, -128, -129, 255, 256, 32767, 32768, -32768,
                      -32769, 8388607, 8388608, -8388608, -8388609, 2147483647, -2147483648]];
edges(extint) -> [int(V) || V <- [0, 1, 50, 99, 100, 101, 127, 128, 200, -1, -129, 100000, 2147483647, -2147483648]];
edges(extneg) -> [int(V) || V <- [-10, -9, -1, 0, 9, 10, 11, -11, 127, -128, 1000, -1000]];
edges(bool) -> [{true, "T", false}, {false, "F", false}];
edges(null) -> [{'NULL', "N", false}];
edges({enum, Names}) -> [enum(Names, I) || I <- lists:seq(0, length(Names) - 1)];
edges({oct, Sizes}) -> [oct(N) || N <- Sizes];
edges({str, Kind, Sizes}) -> [str(Kind, N) || N <- Sizes];
edges({bmp, Sizes}) -> [bmp(N) || N <- Sizes];
edges({bits, Sizes}) -> [bits(N) || N <- Sizes];
edges(bmp_ends) -> [bmp_chars(S) || S <- [[0], [16#FFFF], [0, 16#FFFF, 0], [16#41, 0], [0, 0]]];
edges(oid) -> [oid([0, 0]), oid([1, 2, 840, 113549, 1]), oid([2, 999, 3]), oid([2, 39]),
               oid([1, 39, 127, 128, 16383, 16384, 2097151, 2097152, 268435455, 268435456, 4294967295])];
edges(time) -> [time_text("20240131120000Z"), time_text("20240131120000.250Z"),
                time_text("19991231235959"), time_text("20240131120000+0130"),
                time_text("20240131120000.005-0030")];
edges({list, Elem, _}) -> [list(Elem, 0), list(Elem, 1)];
edges(_) -> [].

gen({int, L, U}) -> int(L + rand:uniform(U - L + 1) - 1);
gen(plain) -> int(rnd_signed());
gen(extint) -> int(case rand:uniform(2) of 1 -> rand:uniform(101) - 1; 2 -> rnd_signed() end);
gen(extneg) -> int(case rand:uniform(2) of 1 -> rand:uniform(21) - 11; 2 -> rnd_signed() end);
gen(bool) -> hd(edges(bool) -- [lists:nth(rand:uniform(2), edges(bool))]);
gen(null) -> {'NULL', "N", false};
gen({enum, Names}) -> enum(Names, rand:uniform(length(Names)) - 1);
gen({oct, Sizes}) -> oct(pick(Sizes));
gen({str, Kind, Sizes}) -> str(Kind, pick(Sizes));
gen({bmp, Sizes}) -> bmp(pick(Sizes));
gen({bits, Sizes}) -> bits(pick(Sizes));
gen(oid) ->
    First = rand:uniform(3) - 1,
    Second = case First of 2 -> rand:uniform(1000) - 1; _ -> rand:uniform(40) - 1 end,
    oid([First, Second | [rnd_arc() || _ <- lists:seq(1, rand:uniform(6) - 1)]]);
gen(time) ->
    Base = io_lib:format("~4..0b~2..0b~2..0b~2..0b~2..0b~2..0b",
                         [1970 + rand:uniform(100), rand:uniform(12), rand:uniform(28),
                          rand:uniform(24) - 1, rand:uniform(60) - 1, rand:uniform(60) - 1]),
    Frac = case rand:uniform(2) of 1 -> ""; 2 -> io_lib:format(".~3..0b", [rand:uniform(999)]) end,
    Zone = case rand:uniform(3) of
               1 -> "Z";
               2 -> "";
               3 -> io_lib:format("~c~2..0b~2..0b", [pick("+-"), rand:uniform(12) - 1, rand:uniform(60) - 1])
           end,
    time_text(lists:flatten([Base, Frac, Zone]));
gen({list, Elem, Sizes}) -> list(Elem, pick(Sizes));
gen({seq, Name, Root, Adds}) ->
    Fields = [field(S, P) || {S, P} <- Root],
    NAdds = length(Adds),
    Present = case rand:uniform(3) of
                  1 -> [];
                  _ -> [I || I <- lists:seq(1, NAdds), rand:uniform(2) =:= 1]
              end,
    AddVals = [case lists:member(I, Present) of
                   true -> gen(t(lists:nth(I, Adds)));
                   false -> absent
               end || I <- lists:seq(1, NAdds)],
    Partial = Present =/= [] andalso not lists:member(NAdds, Present),
    All = Fields ++ AddVals,
    Erl = list_to_tuple([Name | [case F of absent -> asn1_NOVALUE; {E, _, _} -> E end || F <- All]]),
    Desc = ["{", lists:join(",", [case F of absent -> "_"; {_, D, _} -> D end || F <- All]), "}"],
    {Erl, lists:flatten(Desc), Partial orelse lists:any(fun(F) -> partial(F) end, All)};
gen({choice, Root, Adds}) ->
    All = Root ++ Adds,
    I = rand:uniform(length(All)),
    {Alt, T} = lists:nth(I, All),
    {E, D, P} = gen(t(T)),
    {{Alt, E}, lists:flatten([integer_to_list(I - 1), ":", D]), P}.

field(any, _) -> any(rand:uniform(20));
field(T, o) when is_atom(T) ->
    case rand:uniform(3) of 1 -> absent; _ -> gen(t(T)) end;
field(T, m) -> gen(t(T)).

partial(absent) -> false;
partial({_, _, P}) -> P.

pick(L) -> lists:nth(rand:uniform(length(L)), L).

rnd_signed() ->
    Bits = rand:uniform(32),
    V = rand:uniform(1 bsl Bits) - 1,
    V - (1 bsl (Bits - 1)).

rnd_arc() ->
    case rand:uniform(4) of
        1 -> rand:uniform(128) - 1;
        2 -> rand:uniform(16384) - 1;
        3 -> rand:uniform(1 bsl 21) - 1;
        4 -> rand:uniform(1 bsl 32) - 1
    end.

int(V) -> {V, integer_to_list(V), false}.

enum(Names, I) -> {lists:nth(I + 1, Names), integer_to_list(I), false}.

oct(N) ->
    B = crypto_bytes(N),
    {B, "x" ++ hex(B), false}.

any(N) ->
    B = crypto_bytes(N),
    {B, "x" ++ hex(B), false}.

crypto_bytes(N) -> list_to_binary([rand:uniform(256) - 1 || _ <- lists:seq(1, N)]).

str(ia5, N) ->
    S = [case rand:uniform(8) of 1 -> rand:uniform(128) - 1; _ -> 31 + rand:uniform(95) end
         || _ <- lists:seq(1, N)],
    {S, "s" ++ hex(list_to_binary(S)), false};
str(num, N) ->
    S = [pick(" 0123456789") || _ <- lists:seq(1, N)],
    {S, "s" ++ hex(list_to_binary(S)), false}.

bmp(N) ->
    S = [case rand:uniform(3) of
             1 -> rand:uniform(128) - 1;
             2 -> 16#0400 + rand:uniform(256) - 1;
             3 -> 16#E000 + rand:uniform(16#2000) - 1
         end || _ <- lists:seq(1, N)],
    Erl = [case C of C when C > 255 -> {0, 0, C bsr 8, C band 255}; _ -> C end || C <- S],
    {Erl, "w" ++ lists:flatten([io_lib:format("~4.16.0b", [C]) || C <- S]), false}.

bmp_chars(S) ->
    Erl = [case C of C when C > 255 -> {0, 0, C bsr 8, C band 255}; _ -> C end || C <- S],
    {Erl, "w" ++ lists:flatten([io_lib:format("~4.16.0b", [C]) || C <- S]), false}.

bits(N) ->
    L = [rand:uniform(2) - 1 || _ <- lists:seq(1, N)],
    B = << <<X:1>> || X <- L >>,
    {B, "b" ++ [$0 + X || X <- L], false}.

oid(Arcs) ->
    {list_to_tuple(Arcs), "o" ++ lists:flatten(lists:join(".", [integer_to_list(A) || A <- Arcs])), false}.

time_text(S) -> {S, "s" ++ hex(list_to_binary(S)), false}.

list(Elem, N) ->
    Vs = [gen(t(Elem)) || _ <- lists:seq(1, N)],
    {[E || {E, _, _} <- Vs],
     lists:flatten(["[", lists:join(",", [D || {_, D, _} <- Vs]), "]"]),
     lists:any(fun({_, _, P}) -> P end, Vs)}.

hex(B) -> lists:flatten([io_lib:format("~2.16.0b", [X]) || <<X>> <= B]).
