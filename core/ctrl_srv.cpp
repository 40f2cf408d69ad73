#include "core/ctrl_srv.h"

#include "asn1/coder_env.h"
#include "core/slots.h"
#include "net/tpkt.h"
#include "protocol/lgcp.h"

#include <algorithm>
#include <iostream>

namespace CtrlSrv {

namespace {

// Writes at most the first 32 octets of a payload that did not decode.
void PutOctets(std::ostream& os, Packet& payload)
{
    static const char digits[] = "0123456789ABCDEF";
    unsigned n = std::min(payload.length(), 32u);
    const unsigned char* p = payload.data();
    for (unsigned i = 0; i < n; ++i)
        os << (i ? " " : "") << digits[p[i] >> 4] << digits[p[i] & 15];
    if (payload.length() > n)
        os << " ...";
}

} // namespace

Service::~Service()
{
    if (mServer)
        mServer->Unbind(*this);
}

void Service::OnSignal(int, LGCP::Signal const&)
{
}

void Service::Success()
{
    if (mServer)
        mServer->AnswerCurrent(Answer::success);
}

void Service::Error(int cause)
{
    if (mServer)
        mServer->AnswerCurrent(cause);
}

Token Service::Delay()
{
    return mServer ? mServer->DelayCurrent() : Token();
}

void Service::Success(Token const& token)
{
    if (mServer)
        mServer->Answer(token, Answer::success);
}

void Service::Error(Token const& token, int cause)
{
    if (mServer)
        mServer->Answer(token, cause);
}

void Service::SendSignal(int slot, LGCP::Signal const& signal)
{
    if (mServer)
        mServer->SendSignal(slot, signal, this);
}

Server::Server()
    : mControl(*this), mMessage(new LGCP::Message)
{
}

Server::~Server()
{
    Close();
    for (Service* service : mServices)
        service->mServer = nullptr;
}

void Server::Bind(Service& service)
{
    if (service.mServer)
        service.mServer->Unbind(service);
    service.mServer = this;
    mServices.push_back(&service);
}

void Server::Unbind(Service& service)
{
    mServices.erase(std::remove(mServices.begin(), mServices.end(), &service), mServices.end());
    service.mServer = nullptr;
}

bool Server::Listen(unsigned short port, in_addr_t address)
{
    return mControl.Listen(port, address);
}

void Server::Close()
{
    mControl.Close();
}

void Server::Disconnect(std::string const& reason)
{
    mControl.Disconnect(reason);
}

void Server::OnConnect(Control::Service&)
{
    ++mLink;
    std::vector<Service*> services = mServices;
    for (Service* service : services)
        service->OnConnect();
}

void Server::OnDisconnect(Control::Service& control)
{
    // What this connection can no longer get: the messages its link could
    // not write and the answers still owed to it, void from now on.
    const unsigned long queued = control.Unwritten();
    if (queued || !mOwed.empty())
        std::cerr << "ctrl [" << control.Peer() << "]: " << queued
                  << (queued == 1 ? " queued message and " : " queued messages and ") << mOwed.size()
                  << (mOwed.size() == 1 ? " owed answer" : " owed answers") << " never delivered" << std::endl;
    mOwed.clear();
    ++mLink;
    mOffering = false;
    std::vector<Service*> services = mServices;
    for (Service* service : services)
        service->OnDisconnect();
}

void Server::OnMessage(Control::Service& service, Packet& payload)
{
    // Taken while in use, so a command that arrives from inside another's
    // offer gets a value of its own.
    std::unique_ptr<LGCP::Message> kept = std::move(mMessage);
    if (!kept)
        kept.reset(new LGCP::Message);
    Offer(service, payload, *kept);
    if (!mMessage)
        mMessage = std::move(kept);
}

void Server::Offer(Control::Service&, Packet& payload, LGCP::Message& message)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    const char* first = reinterpret_cast<const char*>(payload.data());
    mCurrent = Token();
    mCurrent.mLink = mLink;
    if (!env.decode(first, first + payload.length(), message)) {
        ++mUndecoded;
        PutHeader(std::cerr);
        std::cerr << "message not decoded (" << payload.length() << " octets): ";
        PutOctets(std::cerr, payload);
        std::cerr << std::endl;
        Answer(mCurrent, Answer::invalidParams);
        return;
    }
    if (message.seq_isPresent()) {
        mCurrent.mHasSeq = true;
        mCurrent.mSeq = message.get_seq().getValue();
    }
    if (message.slot_isPresent())
        mCurrent.mSlot = static_cast<int>(message.get_slot().getValue());
    if (!message.get_pdu().command_isSelected()) {
        PutHeader(std::cerr);
        std::cerr << "not a command: " << message << std::endl;
        Answer(mCurrent, Answer::unexpectedMsgType);
        return;
    }
    ++mCommands;
    mOffering = true;
    mAnswered = false;
    bool taken = false;
    unsigned long link = mLink;
    std::vector<Service*> services = mServices;
    for (Service* service : services) {
        // A service may have dropped the link or be gone by now.
        if (link != mLink || std::find(mServices.begin(), mServices.end(), service) == mServices.end())
            break;
        if (service->OnCommand(message)) {
            taken = true;
            break;
        }
    }
    bool answered = mAnswered;
    mOffering = false;
    if (link != mLink)
        return;
    if (!taken) {
        PutHeader(std::cerr);
        std::cerr << "no service takes " << message << std::endl;
        Answer(mCurrent, Answer::unexpectedMsgType);
    } else if (!answered) {
        PutHeader(std::cerr);
        std::cerr << "command left unanswered: " << message << std::endl;
        Answer(mCurrent, Answer::internal);
    }
}

void Server::AnswerCurrent(int cause)
{
    // One answer per command, and none outside the offer of one.
    if (!mOffering || mAnswered) {
        PutHeader(std::cerr);
        std::cerr << "answer without a command to answer, dropped" << std::endl;
        return;
    }
    mAnswered = true;
    Answer(mCurrent, cause);
}

Token Server::DelayCurrent()
{
    if (!mOffering || mAnswered)
        return Token();
    mAnswered = true;
    Token token = mCurrent;
    token.mDelay = ++mDelays;
    mOwed.push_back(token.mDelay);
    mControl.Hold(true);
    return token;
}

void Server::Answer(Token const& token, int cause)
{
    if (!token.valid() || token.mLink != mLink || !IsConnected())
        return;
    bool wasOwed = false;
    if (token.mDelay) {
        auto owed = std::find(mOwed.begin(), mOwed.end(), token.mDelay);
        wasOwed = owed != mOwed.end();
        if (wasOwed)
            mOwed.erase(owed);
    }
    LGCP::Message message;
    if (token.mHasSeq)
        message.set_seq(token.mSeq);
    if (token.mSlot >= 0)
        message.set_slot(static_cast<unsigned>(token.mSlot));
    LGCP::Response& response = message.get_pdu().select_response();
    if (cause < 0)
        response.select_success();
    else
        response.select_error() = static_cast<LGCP::ErrorCause::NamedNumber>(cause);
    // The command is answered in any case: what cannot be sent becomes
    // `internal`.
    if (!Send(message, "answer") && cause != Answer::internal)
        Answer(token, Answer::internal);
    if (wasOwed && mOwed.empty())
        mControl.Hold(false);
}

void Server::SendSignal(int slot, LGCP::Signal const& signal, Service* from)
{
    std::vector<Service*> services = mServices;
    for (Service* service : services)
        if (service != from)
            service->OnSignal(slot, signal);
    if (!IsConnected())
        return;
    LGCP::Message message;
    if (slot >= 0)
        message.set_slot(static_cast<unsigned>(slot));
    message.get_pdu().select_signal(signal);
    Send(message, "signal");
}

bool Server::Send(LGCP::Message const& message, char const* what)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    if (!env.encodePER(message, octets)) {
        PutHeader(std::cerr);
        std::cerr << what << " not encoded, dropped: " << message << std::endl;
        return false;
    }
    Packet packet;
    mControl.prepare_head(packet);
    // One message travels in one packet and one frame: what does not fit
    // is dropped here rather than asserting in the packet or the frame layer.
    size_t room = std::min<size_t>(packet.tailroom(), Tpkt_protocol::max_payload);
    if (octets.size() > room) {
        PutHeader(std::cerr);
        std::cerr << what << " of " << octets.size() << " octets does not fit a frame, dropped" << std::endl;
        return false;
    }
    std::copy(octets.begin(), octets.end(), packet.put(static_cast<unsigned>(octets.size())));
    mControl.Send(packet);
    return true;
}

} // namespace CtrlSrv
