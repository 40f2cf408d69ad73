#pragma once

// The daemon's controller link in the test process, on a fresh simulated
// board, with a test controller on loopback TCP.

#include "asn1/coder_env.h"
#include "board/hw_mux.h"
#include "core/ctrl_srv.h"
#include "core/heartbeat.h"
#include "core/slots.h"
#include "core/slots_service.h"
#include "core/trunk_slot.h"
#include "samples/link/loop_driver.h"
#include "protocol/lgcp.h"
#include "standin/board.h"
#include "standin/switch.h"
#include "samples/link/tpkt_client.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <netinet/in.h>

#include <csignal>
#include <memory>

namespace test {

inline Octets Encode(LGCP::Message const& message)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    Octets octets;
    EXPECT_TRUE(env.encodePER(message, octets));
    return octets;
}

inline LGCP::Message Decode(Octets const& payload)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    LGCP::Message message;
    EXPECT_TRUE(env.decode(payload.data(), payload.data() + payload.size(), message));
    return message;
}

inline LGCP::Message Command(unsigned seq, int slot = -1)
{
    LGCP::Message m;
    m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(static_cast<unsigned>(slot));
    m.get_pdu().select_command();
    return m;
}

inline LGCP::Command& Body(LGCP::Message& m)
{
    return m.get_pdu().get_command();
}

inline LGCP::Message Ping(unsigned seq, int slot = -1)
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_ping();
    return m;
}

inline LGCP::Message CreateE1(unsigned seq, int slot, int trunk, int timeslot)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::E1Params& e1 = Body(m).select_create().select_e1();
    e1.set_trunk(trunk);
    e1.set_timeslot(timeslot);
    return m;
}

inline LGCP::Message CreateBri(unsigned seq, int slot, int trunk, int channel)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::BriParams& bri = Body(m).select_create().select_bri();
    bri.set_trunk(trunk);
    bri.set_channel(channel);
    return m;
}

inline LGCP::Message CreateMap(unsigned seq, int slot, int channel)
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_create().select_map().set_channel(channel);
    return m;
}

inline LGCP::Message Connect(unsigned seq, int source, std::vector<int> const& receivers)
{
    LGCP::Message m = Command(seq, source);
    auto& list = Body(m).select_connect();
    for (int r : receivers)
        list.push_back(ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u>(static_cast<unsigned>(r)));
    return m;
}

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        // As in the daemon: a controller gone mid-write is no end of the process.
        ::signal(SIGPIPE, SIG_IGN);
        ASSERT_TRUE(HwMux::instance().Open());
        MapFactory::instance();
        heartbeat = std::make_unique<CtrlSrv::Heartbeat>(600000); // met by no test
        server.Bind(*heartbeat);
        server.Bind(slots);
        ASSERT_TRUE(server.Listen(0, htonl(INADDR_LOOPBACK)));
        Reconnect();
    }
    void TearDown() override
    {
        client.Close();
        server.Close();
        heartbeat.reset();
        Slots::instance().Clear();
        HwMux::instance().Close();
    }
    void Reconnect()
    {
        ASSERT_TRUE(client.Connect(server.port()));
        ASSERT_TRUE(loop.RunUntil([&] { return server.IsConnected(); }));
    }

    // Sends the message and waits for `count` messages back.
    std::vector<LGCP::Message> Exchange(LGCP::Message const& m, size_t count = 1)
    {
        EXPECT_TRUE(client.Send(Encode(m)));
        return Receive(count);
    }
    std::vector<LGCP::Message> Receive(size_t count)
    {
        std::vector<LGCP::Message> got;
        loop.RunUntil([&] {
            Octets payload;
            while (got.size() < count && client.Take(payload))
                got.push_back(Decode(payload));
            return got.size() >= count;
        });
        EXPECT_EQ(got.size(), count);
        got.resize(count); // what did not come reads as an empty message
        return got;
    }
    // The link still serves: a query is answered, whatever else arrives first.
    void ExpectServing(unsigned seq)
    {
        seq += 100000; // apart from the commands still being answered
        LGCP::Message query = Command(seq);
        Body(query).select_query();
        EXPECT_TRUE(client.Send(Encode(query)));
        bool answered = false;
        EXPECT_TRUE(loop.RunUntil([&] {
            Octets payload;
            while (!answered && client.Take(payload)) {
                LGCP::Message m = Decode(payload);
                answered = m.seq_isPresent() && m.get_seq().getValue() == seq && !m.slot_isPresent()
                           && m.get_pdu().response_isSelected();
            }
            return answered;
        }));
    }
    // Nothing more arrives while the loop settles.
    void ExpectQuiet()
    {
        loop.Settle();
        Octets payload;
        EXPECT_FALSE(client.Take(payload));
    }

    Standin::Board board;
    Standin::Switch& sw = board.Get<Standin::Switch>("/dev/hal");
    CtrlSrv::Server server;
    std::unique_ptr<CtrlSrv::Heartbeat> heartbeat;
    SlotsService slots;
    LoopDriver loop;
    TpktClient client;
};

// Reading an absent alternative aborts the whole binary; this fails the
// one test instead (gtest reports the exception).
inline void Require(bool present, char const* what)
{
    if (!present)
        throw std::runtime_error(std::string("absent: ") + what);
}
#define SELECTED(v, alt) (test::Require((v).alt##_isSelected(), #alt), (v).get_##alt())

// Checks of what came back.
// seq or slot -1: the field must be absent.
inline void ExpectStream(LGCP::Message const& m, int slot, bool transmitter, bool active, int channel)
{
    EXPECT_FALSE(m.seq_isPresent());
    ASSERT_TRUE(m.slot_isPresent());
    EXPECT_EQ(static_cast<int>(m.get_slot().getValue()), slot);
    ASSERT_TRUE(m.get_pdu().signal_isSelected());
    const LGCP::Signal& s = m.get_pdu().get_signal();
    ASSERT_TRUE(transmitter ? s.transmitter_isSelected() : s.receiver_isSelected()) << m;
    const LGCP::StreamState& state = transmitter ? s.get_transmitter() : s.get_receiver();
    EXPECT_EQ(static_cast<bool>(state.get_active()), active);
    EXPECT_EQ(state.get_channel().getValue(), channel);
}

inline void ExpectAnswer(LGCP::Message const& m, long seq, int slot, int cause = -1)
{
    EXPECT_EQ(m.seq_isPresent() ? static_cast<long>(m.get_seq().getValue()) : -1L, seq) << m;
    EXPECT_EQ(m.slot_isPresent() ? static_cast<int>(m.get_slot().getValue()) : -1, slot) << m;
    ASSERT_TRUE(m.get_pdu().response_isSelected()) << m;
    const LGCP::Response& r = m.get_pdu().get_response();
    if (cause < 0) {
        EXPECT_TRUE(r.success_isSelected()) << m;
    } else {
        ASSERT_TRUE(r.error_isSelected()) << m;
        EXPECT_EQ(r.get_error().asInt(), cause) << m;
    }
}

} // namespace test
