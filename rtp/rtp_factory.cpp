#include "rtp/rtp_factory.h"

#include "board/device.h"
#include "board/device_names.h"
#include "core/slots.h"
#include "framework/entropy.h"
#include "framework/inet.h"
#include "framework/text.h"
#include "protocol/lgcp.h"
#include "protocol/term.h"
#include "rtp/rtp_slot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <iostream>
#include <sstream>

namespace {

// -1: no driver code.
int PayloadCode(TERM::Payload const& payload)
{
    switch (payload.asNamedNumber()) {
    case TERM::Payload::ptG711_Alaw:
        return 8;
    case TERM::Payload::ptG711_Ulaw:
        return 0;
    case TERM::Payload::ptG723:
        return 4;
    case TERM::Payload::ptG729:
        return 18;
    case TERM::Payload::ptG711mcc_Alaw:
        return 136;
    case TERM::Payload::ptG711mcc_Ulaw:
        return 128;
    case TERM::Payload::ptG728:
        return 15;
    default:
        return -1;
    }
}

std::string Quoted(std::string const& text)
{
    std::ostringstream os;
    os << ext::quoted(text);
    return os.str();
}

// Port 0 would bind any port, 65535 would put RTCP on port 0.
bool UsablePort(unsigned port)
{
    return port >= 1 && port <= 65534;
}

// What the controller asked that the driver cannot be given; empty when
// nothing.
std::string Refusal(TERM::RtpParams const& rtp, uint32_t& dst, uint32_t& src)
{
    if (!INet4::ParseDotted(rtp.get_dhost().get_iaddr(), dst))
        return "dhost address " + Quoted(rtp.get_dhost().get_iaddr()) + " is not a dotted IPv4 address";
    if (!UsablePort(rtp.get_dhost().get_port().getValue()))
        return "dhost port " + std::to_string(rtp.get_dhost().get_port().getValue()) + " out of range";
    src = 0;
    if (rtp.shost_isPresent()) {
        if (!INet4::ParseDotted(rtp.get_shost().get_iaddr(), src))
            return "shost address " + Quoted(rtp.get_shost().get_iaddr()) + " is not a dotted IPv4 address";
        if (!UsablePort(rtp.get_shost().get_port().getValue()))
            return "shost port " + std::to_string(rtp.get_shost().get_port().getValue()) + " out of range";
    }
    if (rtp.pfactor_isPresent() && rtp.get_pfactor().getValue() > 255)
        return "pfactor " + std::to_string(rtp.get_pfactor().getValue()) + " out of range";
    if (rtp.ttl_isPresent() && rtp.get_ttl().getValue() > 255)
        return "ttl " + std::to_string(rtp.get_ttl().getValue()) + " out of range";
    return {};
}

} // namespace

bool BeginRtpSession(rtp_connection_params const& record, int& tdm, uint32_t bss,
                     std::function<void(std::ostream&)> const& header, Fd& out)
{
    auto log = [&](std::ostream& os) -> std::ostream& {
        header(os);
        return os;
    };
    Fd session(Device::Open(GetRtpDevName(), O_RDONLY | O_NONBLOCK));
    if (!session) {
        Errno e;
        log(std::cerr) << "device " << ext::quoted(GetRtpDevName()) << " open fail: " << e << std::endl;
        return false;
    }
    rtp_connection_params begin = record;
    if (Device::Request(session.lowlevel_fd(), RtpRequest::kBeginSession, &begin) < 0) {
        Errno e;
        log(std::cerr) << "begin session fail !!! " << e << std::endl;
        return false;
    }
    rtp_add_channel add{{tdm, -1, -1}, bss};
    if (Device::Request(session.lowlevel_fd(), RtpRequest::kAddChannel, &add) < 0) {
        Errno e;
        log(std::cerr) << "add channel fail !!! " << e << std::endl;
        return false;
    }
    tdm = add.info.tdm;
    out = std::move(session);
    return true;
}

bool SetUpRtpSession(LGCP::CreateRtpParams const& params, uint32_t bss,
                     std::function<void(std::ostream&)> const& header, RtpSession& out)
{
    const TERM::RtpParams& rtp = params.get_codecRTP();
    auto log = [&](std::ostream& os) -> std::ostream& {
        header(os);
        return os;
    };
    if (PayloadCode(rtp.get_payload()) < 0) {
        log(std::clog) << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    uint32_t dst = 0, src = 0;
    std::string refusal = Refusal(rtp, dst, src);
    if (!refusal.empty()) {
        log(std::clog) << "rtp do not created: " << refusal << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }

    Fd socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket) {
        Errno e;
        log(std::clog) << "rtp do not created: can not create socket [errno=" << e << "]" << std::endl;
        return false;
    }
    int one = 1;
    ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    unsigned port = rtp.shost_isPresent() ? rtp.get_shost().get_port().getValue() : rtp.get_dhost().get_port().getValue();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port + 1));
    if (::bind(socket.lowlevel_fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        Errno e;
        log(std::clog) << "rtp do not created: can not bind socket [errno=" << e
                       << ", port=" << static_cast<int16_t>(port + 1) << "]" << std::endl;
        return false;
    }

    rtp_connection_params record{};
    record.ttl = rtp.ttl_isPresent() ? rtp.get_ttl().getValue() : 0;
    record.dscp = rtp.qos_dscp_isPresent() ? (rtp.get_qos_dscp().asInt() & 63) * 4 : -1;
    record.dst_addr = dst;
    record.dst_port = static_cast<uint16_t>(rtp.get_dhost().get_port().getValue());
    record.src_addr = src;
    record.src_port = static_cast<uint16_t>(port);
    record.packet_factor = static_cast<uint16_t>(rtp.pfactor_isPresent() ? rtp.get_pfactor().getValue() : 0);
    record.rx_pt = RtpCodecFactory::translateCodec(rtp.get_payload(), params.get_rxPayload());
    record.tx_pt = RtpCodecFactory::translateCodec(rtp.get_payload(), params.get_txPayload());
    record.vad = rtp.vad_isPresent() && rtp.get_vad();
    record.crate = rtp.crate_isPresent() && rtp.get_crate().getValue() != 0;
    record.ssrc = rtp.ssrc_isPresent() ? rtp.get_ssrc().getValue() : KernelRandom();

    int tdm = -1;
    if (!BeginRtpSession(record, tdm, bss, header, out.session))
        return false;
    out.socket = std::move(socket);
    out.params = record;
    out.tdm = tdm;
    out.peer = sockaddr_in{};
    out.peer.sin_family = AF_INET;
    out.peer.sin_addr.s_addr = dst;
    // The far end's RTCP port follows dhost even when ours follows shost.
    out.peer.sin_port = htons(static_cast<uint16_t>(record.dst_port + 1));
    return true;
}

RtpFactory& RtpFactory::instance()
{
    static RtpFactory factory;
    return factory;
}

RtpCodecFactory::RtpCodecFactory(const char* logName)
    : mLogName(logName)
{
    IQuery();
}

void RtpCodecFactory::PutHeader(std::ostream& os) const
{
    os << mLogName << "[" << mG723 << "," << mG729 << "," << mG711 << "," << mUniversal << "]: ";
}

uint16_t RtpCodecFactory::translateCodec(TERM::Payload const& payload)
{
    int code = PayloadCode(payload);
    return static_cast<uint16_t>(code < 0 ? 0 : code);
}

uint16_t RtpCodecFactory::translateCodec(TERM::Payload const& payload, TERM::Payload const& override)
{
    int o = override.asInt();
    if (o != payload.asInt() && (o == TERM::Payload::ptG711_Alaw || o == TERM::Payload::ptG711_Ulaw))
        return translateCodec(override);
    return translateCodec(payload);
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.rtp_isSelected() || params.get_rtp().get_codecRTP().radio_isPresent())
        return nullptr;
    const LGCP::CreateRtpParams& create = params.get_rtp();
    const TERM::RtpParams& rtp = create.get_codecRTP();
    std::clog << ext::header(this) << "do create rtp: " << rtp << std::endl;

    RtpSession s;
    if (!SetUpRtpSession(create, 0, [this](std::ostream& os) { PutHeader(os); }, s))
        return nullptr;
    auto* slot = new RtpSlot(s.tdm, std::move(s.session), s.params);
    slot->startRTPC(s.socket, s.peer);
    if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor())
        slot->tonec().echoCancel(rtp.get_echo().get_canceller());
    return slot;
}

void RtpCodecFactory::IQuery()
{
    struct Count {
        uint32_t mask;
        uint32_t& count;
    };
    Count counts[] = {{VoiceRequest::kG729, mG729},
                      {VoiceRequest::kG723, mG723},
                      {VoiceRequest::kG711, mG711},
                      {VoiceRequest::kG711Mcc, mG711Mcc},
                      {VoiceRequest::kUniversal, mUniversal}};
    // A failed query leaves no count of an earlier one behind.
    for (Count& c : counts)
        c.count = 0;
    Fd voice(Device::Open(GetVoiceDevName(), O_RDONLY));
    if (!voice) {
        Errno e;
        std::cerr << ext::header(this) << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << e
                  << std::endl;
        return;
    }
    for (Count& c : counts) {
        uint32_t mask = c.mask;
        int n = Device::Request(voice.lowlevel_fd(), VoiceRequest::kCodecChannels, &mask);
        c.count = n > 0 ? static_cast<uint32_t>(n) : 0;
    }
}

void RtpCodecFactory::Query(LGCP::Resources& resources)
{
    IQuery();
    resources.set_rtp_g729(static_cast<int>(mG729));
    resources.set_rtp_g723(static_cast<int>(mG723));
    resources.set_rtp_g711(static_cast<int>(mG711));
    resources.set_rtp_g711mcc(static_cast<int>(mG711Mcc));
    resources.set_universal(static_cast<int>(mUniversal));
}
