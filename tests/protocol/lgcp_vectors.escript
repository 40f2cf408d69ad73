#!/usr/bin/env escript
%% Encodes the reference LGCP messages in aligned PER with Erlang's asn1.
%% usage: lgcp_vectors.escript DIR   (DIR holds the compiled test copies)
%% Prints one line per message: its name and the octets in hex.
%% Enumerations with values other than 0..n-1 are INTEGER in the test copy,
%% so Payload and DSCP appear here as numbers; the extensible ones are
%% CHOICEs of a named number and a number beyond the names.

main([Dir]) ->
    true = code:add_patha(Dir),
    lists:foreach(fun({Name, Value}) ->
                          {ok, Bin} = 'LGCP':encode('Message', Value),
                          io:format("~s ~s~n", [Name, hex(Bin)])
                  end, messages()).

hex(Bin) -> lists:flatten([io_lib:format("~2.16.0b", [B]) || <<B>> <= Bin]).

flags() ->
    {'RadioFlags', 15, false, true, false, false, true, false, false, false, true, 3, 511}.

%% A number V beyond the names, as the copy spells it (protocol/README.md).
beyond(V) when V < 63 -> {beyond, {small, {list_to_atom("k" ++ integer_to_list(V + 1)), V}}};
beyond(255) -> {beyond, {large, {c2, {'ByValueTwoOctets', 256, 255}}}};
beyond(V) -> {beyond, {large, {c1, {list_to_atom("k" ++ integer_to_list(V + 1)), V}}}}.

%% A LEMZ radio command to slot 9 by ioctl.
lemz(Seq, Params) ->
    {'Message', Seq, 9,
     {command, {ioctl, {rtpExt, {lemz, {'LemzRadioModifier', {'RadioModifierAddr', "0.0.0.0", 0}, Params}}}}}}.

header() ->
    {'ED137RadioHeader', {named, 'normal-ptt-on'}, 'squ-on', 63, false, true, false}.

messages() ->
    [{"create_rtp",
      {'Message', 17, 5,
       {command, {create, {rtp,
         {'CreateRtpParams',
          {'RtpParams', 0, {'HostAddress', "10.0.0.5", 6000}, {'HostAddress', "10.0.0.1", 5000},
           2, asn1_NOVALUE, true, {'RtpEcho', true, false}, 4000000000, 64, 46,
           {'RtpRadioRequest',
            {lemz, {'LemzRadioStatus', flags(), {'RadioFrequency', 7, "145.500000"},
                    {'RadioRemote', 255, 0}, {named, on}, asn1_NOVALUE, {named, 1}, 200, asn1_NOVALUE}},
            asn1_NOVALUE, 40, asn1_NOVALUE, true, asn1_NOVALUE},
           {'RtpE2M', {'only-rtp', {'RtpExtDescription', 7, 1234}}}},
          0, 1}}}}}},
     {"create_ed137",
      {'Message', 18, 6,
       {command, {create, {rtp,
         {'CreateRtpParams',
          {'RtpParams', 123, {'HostAddress', "192.168.1.20", 4000}, asn1_NOVALUE,
           asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE,
           asn1_NOVALUE, 0,
           {'RtpRadioRequest',
            {'ed-137', {'ED137RadioStatus', header(),
                        {'ED137RadioResponse', true, 3, 500, asn1_NOVALUE, 'radio-txrx', txrx},
                        {'ED137RadioExtensionSQI', {named, psd}, 31}}},
            asn1_NOVALUE, asn1_NOVALUE, 0, asn1_NOVALUE, false},
           asn1_NOVALUE},
          123, 123}}}}}},
     {"ioctl_hdlc",
      {'Message', 3, 100,
       {command, {ioctl, {hdlcPackages,
         [{'HdlcPackage', <<1, 2, 3>>}, {'HdlcPackage', <<>>},
          {'HdlcPackage', binary:copy(<<16#a5>>, 300)}]}}}}},
     {"resources",
      {'Message', asn1_NOVALUE, asn1_NOVALUE,
       {signal, {resources,
         {'Resources', 4, 2, 8, 4, 2, [0, 3, 15],
          [{'MixerResources_SEQOF', 3, 16, 16, 32, 770, 17, 24},
           {'MixerResources_SEQOF', 5, 16, 16, 32, 770, 17, 24}],
          12, 30, 30, 60, 0, 100000, [1, 2, 3, 4], []}}}}},
     {"error",
      {'Message', 4294967295, 1023, {response, {error, destroyInProgress}}}},
     {"success",
      {'Message', 0, 0, {response, {success, 'NULL'}}}},
     {"transmitter",
      {'Message', asn1_NOVALUE, 12, {signal, {transmitter, {'StreamState', false, -1}}}}},
     {"abort",
      {'Message', asn1_NOVALUE, 12, {signal, {abort, 512}}}},
     {"lemz_report",
      {'Message', asn1_NOVALUE, 9,
       {signal, {rtpExt,
         {'RtpRadioRequest',
          {lemz, {'LemzRadioStatus', flags(), {'RadioFrequency', -5, ""},
                  {'RadioRemote', 1, 2}, asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE,
                  asn1_NOVALUE, asn1_NOVALUE}},
          {lemz, {'LemzRadioModifier', {'RadioModifierAddr', "0.0.0.0", 0},
                  {'wm-standby', {'RadioCommandWMStandby', {named, 0}, 255, {named, 1}}}}},
          asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE}}}}},
     {"ed137_report",
      {'Message', asn1_NOVALUE, 10,
       {signal, {rtpExt,
         {'RtpRadioRequest',
          {'ed-137', {'ED137RadioStatus', header(), asn1_NOVALUE,
                      {'ED137RadioExtensionSQI', {named, rssi}, 0}}},
          {'ed-137', {'ED137RadioModifier', {'RadioModifierAddr', "10.20.30.40", 305419896},
                      {rx, {'ED137RadioModifierParams_rx', header(),
                            {'ED137RadioExtensionSQI', {named, 'c-n'}, 17}}}}},
          asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE, asn1_NOVALUE}}}}},
     {"isdn_link_info",
      {'Message', asn1_NOVALUE, 77,
       {signal, {ioctl, {isdnLinkInfo,
         {'IsdnLinkInfo', 10, 9, 1, 2, 0, 3, 0, 0, 1, 0, 'multiple-frame-established', 2,
          false, true, false, false, true, true, false, false, true, true, false,
          127, 0, 64, 5, 6}}}}}},
     {"ss7_link_info",
      {'Message', asn1_NOVALUE, 78,
       {signal, {ioctl, {ss7LinkInfo,
         {'SS7LinkInfo', 1, 2, 300, 400, 0, 0, 5, 6, 7, 8, 'aligned-ready'}}}}}},
     {"connect",
      {'Message', 7, 0, {command, {connect, [1, 2, 1023]}}}},
     {"connect_most",
      {'Message', 8, 0, {command, {connect, lists:seq(0, 127)}}}},
     {"user_data_most",
      {'Message', 13, 44, {command, {userData, << <<(N rem 256)>> || N <- lists:seq(0, 16383) >>}}}},
     {"modem_acct",
      {'Message', asn1_NOVALUE, 40,
       {signal, {modemProceeding, {acct,
         {'MdmAccounting', {'INTEGER64Bits', 4294967295, 1}, {'INTEGER64Bits', 12, 0},
          {'INTEGER64Bits', 0, 0}, {'INTEGER64Bits', 1, 2}, {'INTEGER64Bits', 3600, 0}}}}}}},
     {"activate_modem",
      {'Message', 9, 41,
       {command, {activate, {modem,
         {'ModemUserParameters', "10.1.1.2", "255.255.255.0", "10.1.1.1", "8.8.8.8", 1500}}}}}},
     {"create_player",
      {'Message', 11, 42,
       {command, {create, {voice, {player, {file,
         {'PlayerParams_file', ["hello.pcm", "bye.pcm"], 0}}}}}}}},
     {"create_pstn",
      {'Message', 12, 43,
       {command, {create, {pstn, {isdn,
         {'IsdnParams', bri, 2, 3, {network, 'NULL'}}}}}}}},
     {"lemz_standby_beyond",
      lemz(20, {'wm-standby', {'RadioCommandWMStandby', beyond(62), 7, beyond(255)}})},
     {"lemz_chan_beyond",
      lemz(21, {'wm-chan', {'RadioCommandWMChan', {'RadioFrequency', 1, "1"}, beyond(63), beyond(200)}})},
     {"trunk_status",
      {'Message', asn1_NOVALUE, asn1_NOVALUE,
       {signal, {trunkStatus, {'TrunkStatus', 0, lossCarrier}}}}}
    ].
