#pragma once

#include "net/control.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace LGCP {
class Message;
class Signal;
}

namespace CtrlSrv {

class Server;

// A command whose answer is sent later. It is void once the connection it
// came on is gone.
class Token
{
public:
    bool valid() const { return mLink != 0; }

private:
    friend class Server;
    unsigned long mLink = 0;
    unsigned long mDelay = 0; // a delayed answer's number, 0 for the others
    bool mHasSeq = false;
    unsigned mSeq = 0;
    int mSlot = -1;
};

// A service bound to the controller link. Commands are offered to the
// bound services in bind order until one takes it.
class Service
{
public:
    Service() = default;
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    virtual ~Service();

    virtual void OnConnect() {}
    virtual void OnDisconnect() {}
    // True takes the command, which is then answered through Success,
    // Error or Delay before returning.
    virtual bool OnCommand(LGCP::Message const& message) = 0;
    // A signal on its way to the controller from another service.
    virtual void OnSignal(int slot, LGCP::Signal const& signal);

    Server* server() const { return mServer; }

protected:
    // Answers to the command being offered.
    void Success();
    void Error(int cause);
    Token Delay();
    // Answers to a delayed command (nothing when the token is void).
    void Success(Token const& token);
    void Error(Token const& token, int cause);
    // slot -1: a signal without slot number.
    void SendSignal(int slot, LGCP::Signal const& signal);

private:
    friend class Server;
    Server* mServer = nullptr;
};

class Server : public Control::Notify
{
public:
    Server();
    ~Server() override;

    // Services see commands in the order they are bound.
    void Bind(Service& service);
    void Unbind(Service& service);

    bool Listen(unsigned short port, in_addr_t address = htonl(INADDR_ANY));
    void Close();
    void Disconnect(std::string const& reason);
    bool IsConnected() const { return mControl.IsConnected(); }
    unsigned short port() const { return mControl.port(); }

    void SendSignal(int slot, LGCP::Signal const& signal, Service* from = nullptr);
    void Answer(Token const& token, int cause); // cause < 0: success

    void PutHeader(std::ostream& os) const { mControl.PutHeader(os); }

    // Counters for the status dump and the tests.
    unsigned long commands() const { return mCommands; }
    unsigned long undecoded() const { return mUndecoded; }

    void OnConnect(Control::Service& service) override;
    void OnDisconnect(Control::Service& service) override;
    void OnMessage(Control::Service& service, Packet& payload) override;

private:
    friend class Service;
    void Offer(Control::Service& service, Packet& payload, LGCP::Message& message);
    void AnswerCurrent(int cause);
    Token DelayCurrent();
    bool Send(LGCP::Message const& message, char const* what);

    Control::Service mControl;
    // Commands are decoded into this one value: building and tearing down
    // a message per command costs more than decoding it. Null while a
    // command is being offered.
    std::unique_ptr<LGCP::Message> mMessage;
    std::vector<Service*> mServices;
    unsigned long mLink = 0;      // number of the current connection
    Token mCurrent;               // the command being offered
    unsigned long mDelays = 0;    // delayed answers handed out
    // The delayed answers still owed to this connection: a controller that
    // ended its stream keeps its link until they are sent.
    std::vector<unsigned long> mOwed;
    bool mOffering = false;
    bool mAnswered = false;
    unsigned long mCommands = 0;
    unsigned long mUndecoded = 0;
};

} // namespace CtrlSrv
