// The managed TCP link that carries TPKT framed messages: the listening
// kind accepts one peer at a time, stacks the stream-socket and TPKT layers
// on its connection and checks the connection every second.
#pragma once

#include "framework/dpc.h"
#include "framework/event.h"
#include "framework/fd.h"
#include "framework/inet.h"
#include "framework/timer.h"
#include "net/protocol.h"

#include <memory>
#include <string>

class StrmProtocol;

namespace Control {

class Service;

// The owner's side of a Service. Every call comes from the event loop.
class Notify
{
public:
    virtual ~Notify() = default;
    virtual void OnConnect(Service& service) = 0;
    // The peer is gone; anything sent from now on is dropped.
    virtual void OnDisconnect(Service& service) = 0;
    // One whole frame's payload.
    virtual void OnMessage(Service& service, Packet& payload) = 0;
};

class Service
{
public:
    enum { default_check_ms = 1000, backlog = 4 };

    // check_ms: the period of the connection check.
    explicit Service(Notify& notify, unsigned check_ms = default_check_ms);
    ~Service();
    Service(Service const&) = delete;
    Service& operator=(Service const&) = delete;

    // Listens on address:port with SO_REUSEADDR; port 0 takes a free port
    // (see port()). False, with a logged line, when the socket cannot be
    // bound.
    bool Listen(unsigned short port, in_addr_t address = htonl(INADDR_ANY));
    // Stops listening and drops the peer.
    void Close();

    bool IsListening() const { return mListen.IsActive(); }
    unsigned short port() const { return mPort; }
    bool IsConnected() const { return mLink && !mLinkDown; }
    INet4::Addr const& Peer() const { return mPeer; }
    // The peer's socket, -1 without one.
    int lowlevel_fd() const;
    // Messages the last link dropped unwritten when it went down, for
    // OnDisconnect to tell.
    unsigned long Unwritten() const { return mUnwritten; }

    // Frames the payload and sends it; dropped quietly without a peer.
    void Send(Packet& payload);
    // Head room of the link's layers, for a payload that Send takes
    // without copying.
    void prepare_head(Packet& p);
    // While held, a peer that ended its stream keeps its link after its
    // answers have left: the owner has more to send it.
    void Hold(bool held);
    // Drops the peer: OnDisconnect follows at once, the layers are freed
    // from the loop afterwards, so this is safe inside OnMessage.
    void Disconnect(std::string const& reason = "disconnected locally");

    // "ctrl [not connected]: " or "ctrl [address:port]: ".
    void PutHeader(std::ostream& os) const;

private:
    class Link;
    friend class Link;

    void OnAccept(int fd, short revents);
    void OnCheck(Timer*);
    // A connection waits in the listener's backlog.
    bool PeerWaiting() const;
    void OnResume(Timer*);
    void OnCleanup();

    void link_up();
    void link_message(Packet& p);
    void link_status(Protocol_status status);
    void link_down(Protocol_status status);

    Notify& mNotify;
    unsigned mCheckMs;
    unsigned short mPort = 0;
    Event mListen;
    Timer mCheck;
    Timer mResume;
    Dpc mCleanup;
    std::unique_ptr<Link> mLink;
    std::unique_ptr<Link> mDying;
    StrmProtocol* mStrm = nullptr;  // owned by mLink
    bool mLinkDown = false;
    bool mAnnounced = false;
    unsigned long mUnwritten = 0;
    INet4::Addr mPeer;
};

// The connection state that TCP_INFO reports, or -1 when it cannot be read.
int tcp_state(int fd);

} // namespace Control
