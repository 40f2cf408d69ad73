#include "net/control.h"

#include "framework/text.h"
#include "framework/trace.h"
#include "net/strm.h"
#include "net/tpkt.h"

#include <arpa/inet.h>
#include <cerrno>
#include <iostream>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

namespace {

// Pause before listening again after accept failed for want of resources.
enum { accept_retry_ms = 1000 };

} // namespace

// One connection's stack: the stream socket under TPKT, reporting to the
// service.
class Service::Link : public ProtocolsFamily
{
public:
    explicit Link(Service& s) : mService(s), mName("ctrl") {}
    Protocol_name const& name() const override { return mName; }

    void on_activated(Protocol*) override { mService.link_up(); }
    void on_deactivated(Protocol*, Protocol_status s) override { mService.link_down(s); }
    void on_message(Packet& p) override { mService.link_message(p); }
    // A layer's report that leaves the link up, such as a frame refused.
    void on_status(Protocol_status s) override { mService.link_status(s); }

private:
    Service& mService;
    Protocol_name_str mName;
};

int tcp_state(int fd)
{
    tcp_info info{};
    socklen_t len = sizeof(info);
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return -1;
    return info.tcpi_state;
}

Service::Service(Notify& notify, unsigned check_ms) : mNotify(notify), mCheckMs(check_ms)
{
    mCleanup.Bind(this, &Service::OnCleanup);
}

Service::~Service()
{
    mCheck.reset();
    mResume.reset();
    mCleanup.Deactivate();
    mLink.reset();
    mDying.reset();
}

void Service::PutHeader(std::ostream& os) const
{
    if (IsConnected())
        os << "ctrl [" << mPeer << "]: ";
    else
        os << "ctrl [not connected]: ";
}

int Service::lowlevel_fd() const
{
    return IsConnected() && mStrm ? mStrm->lowlevel_fd() : -1;
}

bool Service::Listen(unsigned short port, in_addr_t address)
{
    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!sock) {
        Errno e;
        std::cerr << ext::header(this) << "cannot make the listening socket: " << e << std::endl;
        return false;
    }
    int on = 1;
    ::setsockopt(sock.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    if (::bind(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0
        || ::listen(sock.lowlevel_fd(), backlog) != 0) {
        Errno e;
        std::cerr << ext::header(this) << "cannot listen on port " << port << ": " << e << std::endl;
        return false;
    }
    socklen_t len = sizeof(sa);
    ::getsockname(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    mPort = ntohs(sa.sin_port);

    mListen.Bind("Control::Service::OnAccept", &Service::OnAccept, this);
    // While a peer is served the listening socket is not watched: the
    // next controller waits in the backlog.
    if (!mListen.Schedule(sock, IsConnected() || mDying ? 0 : POLLIN)) {
        Errno e;
        std::cerr << ext::header(this) << "cannot watch the listening socket: " << e << std::endl;
        return false;
    }
    std::cout << ext::header(this) << "listening on port " << mPort << std::endl;
    return true;
}

void Service::Close()
{
    if (mListen.IsActive())
        mListen.Release();
    mResume.reset();
    if (IsConnected())
        Disconnect("listener closed");
}

void Service::OnAccept(int fd, short revents)
{
    if (!(revents & POLLIN) || IsConnected() || mDying)
        return;
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    int s = ::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) {
        int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED)
            return;
        // Out of descriptors or memory: the socket would stay readable and
        // spin the loop, so look again a little later.
        std::cerr << ext::header(this) << "accept failed: " << Errno(err) << std::endl;
        mListen.SetEvents(0);
        mResume.set(accept_retry_ms, &Service::OnResume, this);
        return;
    }
    Fd sock(s);
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));

    mListen.SetEvents(0);
    mPeer = INet4::Addr(sa);
    mLinkDown = false;
    mAnnounced = false;
    mLink.reset(new Link(*this));
    mStrm = new StrmProtocol(sock);
    mLink->add_protocol_tail(mStrm);
    mLink->add_protocol_tail(new Tpkt_protocol);
    std::cout << ext::header(this) << "connected" << std::endl;
    mCheck.set(mCheckMs, &Service::OnCheck, this);
    mLink->activate();
}

void Service::OnResume(Timer*)
{
    if (mListen.IsActive() && !IsConnected() && !mDying)
        mListen.SetEvents(POLLIN);
}

void Service::OnCheck(Timer*)
{
    if (!IsConnected())
        return;
    int state = tcp_state(mStrm->lowlevel_fd());
    // A peer that ended its stream may still be reading its answers.
    if (state != TCP_ESTABLISHED && state != TCP_CLOSE_WAIT) {
        link_down(Protocol_status(new Protocol_status_error(
            nullptr, "connection check failed (state " + std::to_string(state) + ")")));
        return;
    }
    // Or it may have gone for good, which only a write would show: the
    // next peer, waiting to be served, is told first, but only once what is
    // left to send is what the owner holds the link for.
    if (state == TCP_CLOSE_WAIT && mStrm->drained() && PeerWaiting()) {
        link_down(Protocol_status(new Protocol_status_success(nullptr, "stream ended, the next peer waits")));
        return;
    }
    mCheck.set(mCheckMs, &Service::OnCheck, this);
}

bool Service::PeerWaiting() const
{
    pollfd listener{mListen.lowlevel_fd(), POLLIN, 0};
    return mListen.IsActive() && ::poll(&listener, 1, 0) == 1 && (listener.revents & POLLIN);
}

void Service::link_up()
{
    if (mLinkDown || mAnnounced)
        return;
    mAnnounced = true;
    mNotify.OnConnect(*this);
}

void Service::link_message(Packet& p)
{
    if (IsConnected())
        mNotify.OnMessage(*this, p);
}

void Service::link_status(Protocol_status status)
{
    // Nobody else hears it: a refused reply would vanish without a trace.
    if (!status.null())
        std::cerr << ext::header(this) << status << std::endl;
}

void Service::link_down(Protocol_status status)
{
    if (!mLink || mLinkDown)
        return;
    mLinkDown = true;
    mCheck.reset();
    if (!status.null() && status->is_error())
        std::cerr << "ctrl [" << mPeer << "]: link lost: " << status << std::endl;
    else
        std::cout << "ctrl [" << mPeer << "]: disconnected: " << status << std::endl;

    // Close the socket now (the reports this makes are ignored above), but
    // free the layers only from the loop: one of them may be running.
    mLink->deactivate();
    mUnwritten = mStrm->dropped();
    mStrm = nullptr;
    mDying = std::move(mLink);
    mCleanup.Activate();
    if (mAnnounced)
        mNotify.OnDisconnect(*this);
}

void Service::OnCleanup()
{
    mCleanup.Deactivate();
    mDying.reset();
    if (mListen.IsActive() && !IsConnected() && !mResume.is_running())
        mListen.SetEvents(POLLIN);
}

void Service::Send(Packet& payload)
{
    static Profile::Point whole("Control::Service::Send [1]");
    static Profile::Point link("Control::Service::Send [2]");
    whole.begin();
    if (IsConnected()) {
        link.begin();
        mLink->message(payload);
        link.end();
    }
    whole.end();
}

void Service::prepare_head(Packet& p)
{
    if (IsConnected())
        mLink->prepare_head(p);
    else
        p.reserve_head(Tpkt_protocol::header_size);
}

void Service::Hold(bool held)
{
    if (IsConnected())
        mStrm->hold(held);
}

void Service::Disconnect(std::string const& reason)
{
    if (IsConnected())
        link_down(Protocol_status(new Protocol_status_success(nullptr, reason)));
}

} // namespace Control
