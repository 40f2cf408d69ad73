#pragma once

// Slot and factory kinds for the framework tests: every hook is recorded
// and each answer can be set.

#include "board/hw_mux.h"
#include "samples/link/loop_driver.h"
#include "core/slots.h"
#include "standin/board.h"
#include "standin/switch.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace test {

class TestFactory : public SlotFactory {
public:
    const char* GetName() const override { return "test"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
};

// Records hooks into a shared journal as "<id>.<hook>".
class TestSlot : public Slot {
public:
    TestSlot(SlotFactory& f, std::vector<std::string>& journal, int channel = -1, int priority = 0)
        : Slot(f), journal(journal), channel(channel), priority(priority)
    {
    }
    const char* GetName() const override { return "test"; }

    int GetConnectionPriority() override { return priority; }
    int IGetTransmitChannel() override { return channel; }
    int IGetReceiveChannel() override { return channel; }
    bool IOnOutputStream() override { return note("out", output); }
    bool IOnInputStream() override { return note("in", input); }
    void IOnOutputRelease() override { note("outRel", true); }
    void IOnInputRelease() override { note("inRel", true); }
    bool IHwConnectTransmitter(Slot& r) override { return note("hwTx", hw) && Slot::IHwConnectTransmitter(r); }
    bool IHwConnectReceiver(Slot& s) override { return note("hwRx", hw) && Slot::IHwConnectReceiver(s); }
    bool IHwDisconnectTransmitter(Slot& r) override { return note("unTx", unhw) && Slot::IHwDisconnectTransmitter(r); }
    bool IHwDisconnectReceiver(Slot& s) override { return note("unRx", unhw) && Slot::IHwDisconnectReceiver(s); }
    bool IBeforeDestroy() override { return note("destroy", destroyNow); }

    bool note(const char* hook, bool answer)
    {
        std::ostringstream os;
        os << GetId() << "." << hook;
        journal.push_back(os.str());
        return answer;
    }

    std::vector<std::string>& journal;
    int channel;
    int priority;
    bool output = true, input = true, hw = true, unhw = true, destroyNow = true;
};

// What the table reports to the controller link.
class Reports : public Slots::Notify {
public:
    void OnStream(Slot& slot, bool transmitter, bool active, int channel) override
    {
        std::ostringstream os;
        os << slot.GetId() << (transmitter ? ".transmitter " : ".receiver ") << (active ? "on " : "off ") << channel;
        lines.push_back(os.str());
    }
    void OnReleased(Slot& slot) override { lines.push_back(std::to_string(slot.GetId()) + ".released"); }
    void OnSignal(Slot& slot, LGCP::Signal const&) override { lines.push_back(std::to_string(slot.GetId()) + ".signal"); }
    std::vector<std::string> lines;
};

// A fresh board, the switch open on it and an empty slot table.
class SlotFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HwMux::instance().Open());
        Slots::instance().SetNotify(&reports);
    }
    void TearDown() override
    {
        Slots::instance().Clear();
        Slots::instance().SetNotify(nullptr);
        HwMux::instance().Close();
    }
    TestSlot& make(int id, int channel = -1, int priority = 0)
    {
        auto* slot = new TestSlot(factory, journal, channel, priority);
        Slots::instance().Enter(id, *slot);
        return *slot;
    }

    Standin::Board board;
    Standin::Switch& sw = board.Get<Standin::Switch>("/dev/hal");
    TestFactory factory;
    std::vector<std::string> journal;
    Reports reports;
};

} // namespace test
