// The daemon's side of the controller link on a free loopback port, with a
// recording owner and its log kept.
#pragma once

#include "net/control.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <iostream>

namespace nettest {

inline Bytes text(char const* s)
{
    return Bytes(s, s + std::strlen(s));
}

class Recorder : public Control::Notify
{
public:
    void OnConnect(Control::Service&) override { ++connects; }
    void OnDisconnect(Control::Service& s) override
    {
        ++disconnects;
        // What the owner sends while it tears down goes nowhere.
        Packet p = packet(Bytes{9});
        s.Send(p);
    }
    // Echoes when asked; "bye" disconnects from inside the layers.
    void OnMessage(Control::Service& s, Packet& p) override
    {
        Bytes b = bytes(p);
        messages.push_back(b);
        if (b == text("bye")) {
            s.Disconnect("bye");
            // Still inside the layers: sending now is dropped, not a crash.
            s.Send(p);
        } else if (echo) {
            Packet r;
            s.prepare_head(r);
            std::memcpy(r.put(unsigned(b.size())), b.data(), b.size());
            s.Send(r);
        }
    }

    int connects = 0;
    int disconnects = 0;
    bool echo = false;
    std::vector<Bytes> messages;
};

struct Served
{
    explicit Served(unsigned check_ms = Control::Service::default_check_ms)
        : out(std::cout), err(std::cerr), service(rec, check_ms)
    {
        EXPECT_TRUE(service.Listen(0, htonl(INADDR_LOOPBACK)));
        port = service.port();
    }
    Capture out, err;
    Recorder rec;
    Control::Service service;
    unsigned short port = 0;
};

} // namespace nettest
