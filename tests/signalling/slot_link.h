// The signalling slots through the controller link, on simulated MCC
// channels and the DSP data device, and the commands their tests send.
#pragma once

#include "tests/slots/tdm_link.h"

#include "core/ctrl_srv.h"

#include "signalling/hdlc_slot.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "standin/dsp_data.h"
#include "standin/mcc.h"

namespace tdmtest {

using Frame = Standin::Frame;

inline LGCP::Message CreateSs7(unsigned seq, int slot, int trunk, int value = 0, bool emergency = false)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& p = c.select_create().select_pstn().select_ss7();
        p.set_trunk(trunk);
        p.set_slc(value);
        p.set_dpc(value);
        p.set_opc(value);
        p.set_emergency(emergency);
    });
}

// An ISDN slot, or a PSTN one carrying an ISDN link.
inline LGCP::Message CreateIsdn(unsigned seq, int slot, bool bri, bool network, bool pstn = false, int trunk = 1,
                                int log = 0)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& p = pstn ? c.select_create().select_pstn().select_isdn() : c.select_create().select_isdn();
        FillIsdn(p, bri, network);
        p.set_trunk(trunk);
        p.set_log(log);
    });
}

inline LGCP::Message CreateHdlc(unsigned seq, int slot, int trunk, int address, int log = 0)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& p = c.select_create().select_hdlcParams();
        p.set_trunk(trunk);
        p.set_log(log);
        p.set_address(address);
    });
}

inline LGCP::Message Disconnect(unsigned seq, int receiver)
{
    return Do(seq, receiver, [](LGCP::Command& c) { c.select_disconnect(); });
}

inline LGCP::Message Packages(unsigned seq, int slot, std::vector<std::vector<char>> const& bodies)
{
    return Ioctl(seq, slot, [&](LGCP::IoctlParams& p) {
        auto& list = p.select_hdlcPackages();
        for (auto& body : bodies) {
            LGCP::HdlcPackage package;
            package.set_body(body);
            list.push_back(package);
        }
    });
}

inline const LGCP::IoctlResponse& Response(LGCP::Message const& m)
{
    return SELECTED(SignalOf(m), ioctl);
}

// Stands for the E1 service: trunk reports into the link.
struct E1Reports : CtrlSrv::Service {
    bool OnCommand(LGCP::Message const&) override { return false; }
    void Send(int trunk, ACP::TrunkState::NamedNumber state)
    {
        LGCP::Signal signal;
        ACP::TrunkStatus& status = signal.select_trunkStatus();
        status.set_trunk(trunk);
        status.get_state() = state;
        SendSignal(-1, signal);
    }
};

// A source slot on any trunk and time slot.
struct Line : Slot {
    Line(int trunk, int timeslot, int tdm = 8192 + 5)
        : Slot(MapFactory::instance()), trunk(trunk), timeslot(timeslot), tdm(tdm) {}
    const char* GetName() const override { return "line"; }
    int GetTrunk() override { return trunk; }
    int GetTrunkTimeSlot() override { return timeslot; }
    bool IOnOutputStream() override { return true; }
    int IGetTransmitChannel() override { return tdm; }
    int trunk, timeslot, tdm;
};

// Every signalling slot kind made, reports seldom enough not to interleave.
class SlotLink : public LinkFixture {
protected:
    void SetUp() override
    {
        // The daemon's period, restored after every test: a report every 3 s.
        EXPECT_EQ(std::make_pair(PstnSlot::sUpdateMs, HdlcSlot::sUpdateMs), std::make_pair(3000u, 3000u));
        PstnSlot::sUpdateMs = 600000;
        HdlcSlot::sUpdateMs = 600000;
        PstnFactory::instance();
        IsdnFactory::instance();
        HdlcSlotFactory::instance();
        LinkFixture::SetUp();
    }
    void TearDown() override
    {
        PstnSlot::sUpdateMs = 3000;
        HdlcSlot::sUpdateMs = 3000;
        LinkFixture::TearDown();
    }
    // At least `count` frames written to a time slot, or what came in time.
    std::vector<Frame> Written(int ts, size_t count)
    {
        std::vector<Frame> got;
        loop.RunUntil([&] {
            for (auto& f : mcc.Written(ts))
                got.push_back(f);
            return got.size() >= count;
        });
        return got;
    }

    Standin::Mcc& mcc = board.Get<Standin::Mcc>("/dev/mcc/ctl");
    Standin::DspData& dsp = board.Get<Standin::DspData>("/dev/dsp-data");
};

} // namespace tdmtest
