// Whole LGCP messages built with the generated classes encode to the octets
// that Erlang's asn1 gives for the same values from the same module text
// (lgcp_vectors.txt, made by make_vectors.sh), and those octets decode back
// to equal values.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "codec.h"
#include "protocol/lgcp.h"

namespace {

using protocol_test::toHex;

std::map<std::string, std::string> loadVectors()
{
    std::map<std::string, std::string> vectors;
    std::ifstream in(TEST_SOURCE_DIR "/lgcp_vectors.txt");
    std::string name, hex;
    while (in >> name >> hex)
        vectors[name] = hex;
    return vectors;
}

LGCP::Message fromText(std::string const& text)
{
    LGCP::Message m;
    EXPECT_TRUE(m.setFromValueNotation(text)) << text;
    return m;
}

TERM::HostAddress host(std::string const& addr, unsigned port)
{
    TERM::HostAddress h;
    h.set_iaddr(addr);
    h.set_port(port);
    return h;
}

TERM::RadioFlags flags()
{
    TERM::RadioFlags f;
    f.set_prio(15);
    f.set_ptt(false);
    f.set_bss(true);
    f.set_vad_rx(false);
    f.set_vad_tx(false);
    f.set_sql(true);
    f.set_sh(false);
    f.set_pwr(false);
    f.set_rv(false);
    f.set_resv(true);
    f.set_selcall(3);
    f.set_li(511);
    return f;
}

TERM::ED137RadioHeader header()
{
    TERM::ED137RadioHeader h;
    h.set_ptt(TERM::ED137RadioPTT::normal_ptt_on);
    h.set_squ(TERM::ED137RadioSQU::squ_on);
    h.set_ptt_id(63);
    h.set_ptt_mute(false);
    h.set_ptt_summation(true);
    h.set_sct(false);
    return h;
}

TERM::ED137RadioExtensionSQI sqi(TERM::ED137RadioBSSMethod::NamedNumber method, unsigned quality)
{
    TERM::ED137RadioExtensionSQI s;
    s.set_bss_method(method);
    s.set_bss_quality(quality);
    return s;
}

LGCP::Message command(unsigned seq, unsigned slot, LGCP::Command const& c)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(slot);
    m.get_pdu().select_command() = c;
    return m;
}

LGCP::Message signal(int slot, LGCP::Signal const& s)
{
    LGCP::Message m;
    if (slot >= 0)
        m.set_slot(unsigned(slot));
    m.get_pdu().select_signal() = s;
    return m;
}

LGCP::Message createRtp()
{
    TERM::RtpParams p;
    p.set_payload(TERM::Payload::ptG711_Alaw);
    p.set_dhost(host("10.0.0.5", 6000));
    p.set_shost(host("10.0.0.1", 5000));
    p.set_pfactor(2);
    p.set_vad(true);
    p.set_echo().set_suppressor(true);
    p.get_echo().set_canceller(false);
    p.set_ssrc(4000000000u);
    p.set_ttl(64);
    p.set_qos_dscp(TERM::DSCP::ef);

    TERM::LemzRadioStatus status;
    status.set_flags(flags());
    status.get_freq().set_channel(7);
    status.get_freq().set_frequency("145.500000");
    status.get_remote().set_no(255);
    status.get_remote().set_ch(0);
    status.set_squelshe(TERM::RadioSquelshe::on);
    status.set_standby_state_channel(TERM::RadioStandby::standby);
    status.set_standby_group(200);
    TERM::RtpRadioRequest& radio = p.set_radio();
    radio.set_status(TERM::RadioStatus(status));
    radio.set_rx_delay(40);
    radio.set_bss_enable(true);

    TERM::RtpExtDescription only;
    only.set_fd(7);
    only.set_pid(1234);
    p.set_rtp_e2m().set_mode(TERM::RtpExtMode(only));

    LGCP::CreateRtpParams rtp;
    rtp.set_codecRTP(p);
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_rxPayload(TERM::Payload::ptG711_Ulaw);
    return command(17, 5, LGCP::Command(LGCP::CreateParams(rtp)));
}

LGCP::Message createEd137()
{
    TERM::ED137RadioStatus status;
    status.set_header(header());
    TERM::ED137RadioResponse& r = status.set_radio_response();
    r.set_transmission_depend_on_squ(true);
    r.set_sigtime(3);
    r.set_r2s_keepalive_period(500);
    r.set_type(TERM::ED137RadioType::radio_txrx);
    r.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
    status.set_sqi(sqi(TERM::ED137RadioBSSMethod::psd, 31));

    LGCP::CreateRtpParams rtp;
    TERM::RtpParams& p = rtp.get_codecRTP();
    p.set_payload(TERM::Payload::ptR2S);
    p.set_dhost(host("192.168.1.20", 4000));
    p.set_qos_dscp(TERM::DSCP::cs0);
    p.set_radio().set_status(TERM::RadioStatus(status));
    p.get_radio().set_tx_delay(0);
    p.get_radio().set_ng_enable(false);
    rtp.set_txPayload(TERM::Payload::ptR2S);
    rtp.set_rxPayload(TERM::Payload::ptR2S);
    return command(18, 6, LGCP::Command(LGCP::CreateParams(rtp)));
}

LGCP::Message ioctlHdlc()
{
    LGCP::HdlcPackages packages;
    LGCP::HdlcPackage p;
    p.set_body({1, 2, 3});
    packages.push_back(p);
    p.set_body({});
    packages.push_back(p);
    p.set_body(std::vector<char>(300, '\xa5'));
    packages.push_back(p);
    LGCP::IoctlParams io(LGCP::IoctlParams::hdlcPackages_chosen, packages);
    return command(3, 100, LGCP::Command(io));
}

LGCP::Message response(unsigned seq, unsigned slot, LGCP::Response const& r)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(slot);
    m.get_pdu().select_response() = r;
    return m;
}

// LEMZ commands with numbers beyond the names, as a controller built from
// the by-value copies sends them.
LGCP::Message lemzCommand(unsigned seq, std::string const& params)
{
    return fromText("{ seq " + std::to_string(seq) + ", slot 9, pdu command : ioctl : rtpExt : lemz : { addr { "
                    "session-addr \"0.0.0.0\", session-ssrc 0 }, params " + params + " } }");
}

LGCP::Message ed137Report()
{
    TERM::ED137RadioStatus status;
    status.set_header(header());
    status.set_sqi(sqi(TERM::ED137RadioBSSMethod::rssi, 0));

    TERM::ED137RadioModifier modifier;
    modifier.get_addr().set_session_addr("10.20.30.40");
    modifier.get_addr().set_session_ssrc(0x12345678);
    TERM::ED137RadioModifierParams_rx& rx = modifier.get_params().select_rx();
    rx.set_header(header());
    rx.set_sqi(sqi(TERM::ED137RadioBSSMethod::c_n, 17));

    TERM::RtpRadioRequest request;
    request.set_status(TERM::RadioStatus(status));
    request.set_request(TERM::RadioModifier(modifier));
    return signal(10, LGCP::Signal(request));
}

LGCP::Message connect(unsigned seq, std::vector<unsigned> const& slots)
{
    LGCP::Command c;
    LGCP::Command_connect& receivers = c.select_connect();
    for (unsigned slot : slots)
        receivers.push_back(ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>(slot));
    return command(seq, 0, c);
}

// The most the runtime carries: 128 receivers, 16384 octets.
std::vector<unsigned> mostReceivers()
{
    std::vector<unsigned> slots(ASN1::MaximumArraySize);
    for (unsigned i = 0; i < slots.size(); ++i)
        slots[i] = i;
    return slots;
}

LGCP::Message mostUserData()
{
    LGCP::Command c;
    std::vector<char> data(ASN1::MaximumStringSize);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 256);
    c.select_userData() = data;
    return command(13, 44, c);
}

LGCP::Message activateModem()
{
    TERM::ModemUserParameters u;
    u.set_remoteAddr("10.1.1.2");
    u.set_netmask("255.255.255.0");
    u.set_gateway("10.1.1.1");
    u.set_dns("8.8.8.8");
    u.set_mtu(1500);
    return command(9, 41, LGCP::Command(TERM::TermActivateParams(u)));
}

LGCP::Message createPlayer()
{
    LGCP::PlayerParams_file file;
    file.get_name().push_back(ASN1::IA5String("hello.pcm"));
    file.get_name().push_back(ASN1::IA5String("bye.pcm"));
    file.set_repeat(0);
    LGCP::VoiceParams voice;
    voice.select_player().select_file() = file;
    return command(11, 42, LGCP::Command(LGCP::CreateParams(voice)));
}

LGCP::Message createPstn()
{
    LGCP::IsdnParams isdn;
    isdn.set_type(LGCP::IsdnType::bri);
    isdn.set_trunk(2);
    isdn.set_log(3);
    isdn.get_side().select_network();
    return command(12, 43, LGCP::Command(LGCP::CreateParams(LGCP::PstnParams(isdn))));
}

LGCP::Message trunkStatus()
{
    ACP::TrunkStatus t;
    t.set_trunk(0);
    t.set_state(ACP::TrunkState::lossCarrier);
    return signal(-1, LGCP::Signal(t));
}

TEST(ProtocolErlangVectors, MessagesEncodeAsErlangDoes)
{
    LGCP::Signal transmitter(LGCP::Signal::transmitter_chosen, LGCP::StreamState());
    transmitter.get_transmitter().set_active(false);
    transmitter.get_transmitter().set_channel(-1);

    std::map<std::string, LGCP::Message> const messages = {
        {"create_rtp", createRtp()},
        {"create_ed137", createEd137()},
        {"ioctl_hdlc", ioctlHdlc()},
        {"resources", fromText("{ pdu signal : resources : { modem 4, digital-modems 2, mcc-data 8, mcc-bri 4, "
                               "mcc-trans 2, echoBus { 0, 3, 15 }, mixer { { unit 3, tdm-inputs 16, tdm-outputs 16, "
                               "mixer-inputs 32, dpu-per-mixer 770, dpu-per-ec 17, dpu-per-lms 24 }, { unit 5, "
                               "tdm-inputs 16, tdm-outputs 16, mixer-inputs 32, dpu-per-mixer 770, dpu-per-ec 17, "
                               "dpu-per-lms 24 } }, t38-instances 12, rtp-g729 30, rtp-g723 30, rtp-g711 60, "
                               "rtp-g711mcc 0, universal 100000, e1 { 1, 2, 3, 4 }, bri { } } }")},
        {"error", response(4294967295u, 1023, LGCP::Response(LGCP::ErrorCause::destroyInProgress))},
        {"success", response(0, 0, LGCP::Response(LGCP::Response::success_chosen))},
        {"transmitter", signal(12, transmitter)},
        {"abort", signal(12, [] {
             LGCP::Signal s;
             s.select_abort(512);
             return s;
         }())},
        // a fresh radio state: every field that is still unset is left out
        {"lemz_report",
         fromText("{ slot 9, pdu signal : rtpExt : { status lemz : { flags { prio 15, ptt FALSE, bss TRUE, vad-rx "
                  "FALSE, vad-tx FALSE, sql TRUE, sh FALSE, pwr FALSE, rv FALSE, resv TRUE, selcall 3, li 511 }, freq "
                  "{ channel -5, frequency \"\" }, remote { no 1, ch 2 } }, request lemz : { addr { session-addr "
                  "\"0.0.0.0\", session-ssrc 0 }, params wm-standby : { state-channel active, group 255, "
                  "state-receiver standby } } } }")},
        {"ed137_report", ed137Report()},
        {"isdn_link_info",
         fromText("{ slot 77, pdu signal : ioctl : isdnLinkInfo : { msuTxCount 10, msuRxCount 9, mT200 1, mT203 2, "
                  "errors 0, retrains 3, outOverflows 0, ackOverflows 0, rejected 1, badconfirm 0, lapdState "
                  "multiple-frame-established, rc 2, peerBusy FALSE, ownBusy TRUE, rejException FALSE, ackPending "
                  "FALSE, l3Initiated TRUE, establishable TRUE, queuedUpRQ FALSE, retrRQ FALSE, ackRQ TRUE, t200run "
                  "TRUE, t203run FALSE, vs 127, va 0, vr 64, queueOut 5, queueAck 6 } }")},
        {"ss7_link_info",
         fromText("{ slot 78, pdu signal : ioctl : ss7LinkInfo : { msuTxCount 1, msuRxCount 2, octetsTx 300, "
                  "octetsRx 400, speedRx 0, speedTx 0, overflowCntr 5, rtbSize 6, repeatCntr 7, badSeqCntr 8, "
                  "ss7state aligned-ready } }")},
        {"connect", connect(7, {1, 2, 1023})},
        {"connect_most", connect(8, mostReceivers())},
        {"user_data_most", mostUserData()},
        {"modem_acct",
         fromText("{ slot 40, pdu signal : modemProceeding : acct : { octetsOut { low 4294967295, high 1 }, octetsIn "
                  "{ low 12, high 0 }, packetsOut { low 0, high 0 }, packetsIn { low 1, high 2 }, time { low 3600, "
                  "high 0 } } }")},
        {"activate_modem", activateModem()},
        {"create_player", createPlayer()},
        {"create_pstn", createPstn()},
        {"trunk_status", trunkStatus()},
        {"lemz_standby_beyond", lemzCommand(20, "wm-standby : { state-channel 62, group 7, state-receiver 255 }")},
        {"lemz_chan_beyond",
         lemzCommand(21, "wm-chan : { freq { channel 1, frequency \"1\" }, squelshe 63, rte 200 }")},
    };
    auto const vectors = loadVectors();
    ASSERT_EQ(vectors.size(), messages.size());
    for (auto const& [name, message] : messages) {
        auto it = vectors.find(name);
        ASSERT_NE(it, vectors.end()) << name;
        EXPECT_EQ(toHex(protocol_test::encode(message)), it->second) << name << "\n" << message;

        auto back = protocol_test::decode(&LGCP::Message::theInfo, protocol_test::fromHex(it->second));
        ASSERT_TRUE(back) << name;
        EXPECT_TRUE(*back == message) << name << "\n" << *back;
    }
}

// One more than the runtime carries is refused when encoding: the daemon
// never sends what it could not read back.
TEST(ProtocolLimits, OneBeyondTheRuntimeIsNotEncoded)
{
    std::vector<unsigned> slots = mostReceivers();
    slots.push_back(5);
    EXPECT_TRUE(protocol_test::encode(connect(9, slots)).empty());
    LGCP::Message data = mostUserData();
    data.get_pdu().get_command().get_userData().push_back('x');
    EXPECT_TRUE(protocol_test::encode(data).empty());
}

} // namespace
