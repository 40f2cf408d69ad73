#pragma once

// One signalling data link on a trunk time slot: SS7 link control, Q.921
// on a PRI or on the user side of a BRI, the network side of a BRI, or a
// bare channel for CAS. The slot owns its HDLC channel and its one link
// layer (as the only layer of its protocol family); layer-3 messages and
// MSU payloads travel as the slot's user data, and the channel's and the
// link's reports go to the controller every period.

#include "board/hdlc.h"
#include "core/slot.h"
#include "framework/timer.h"
#include "net/protocol.h"
#include "signalling/lapd.h"
#include "signalling/lapd_nt.h"

#include <memory>

namespace SS7 {
class SLC;
}
namespace LGCP {
class PstnParams;
}

class PstnSlot : public Slot,
                 public ProtocolsFamily,
                 public ISDN::LAPD::Notify,
                 public ISDN::LAPD_NT::Notify,
                 public HDLC::Notify
{
public:
    enum Kind : unsigned { ss7 = 0, pri = 1, bri_user = 2, bri_network = 3 };
    // Report period; settable so tests need not wait.
    static unsigned sUpdateMs;

    PstnSlot(SlotFactory& factory, LGCP::PstnParams const& params);
    ~PstnSlot() override;

    // Slot
    void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state) override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IUserData(std::vector<char> const& data) override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    int GetConnectionPriority() override { return 1; }
    bool IHwConnectTransmitter(Slot& receiver) override;
    bool IHwConnectReceiver(Slot& source) override;
    bool IHwDisconnectTransmitter(Slot& receiver) override;
    bool IHwDisconnectReceiver(Slot& source) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    const char* GetName() const override { return "pstn"; }

    // HDLC::Notify: passed to the link layer.
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    // The protocol family
    Protocol_name const& name() const override { return mName; }
    void on_activated(Protocol*) override;
    void on_deactivated(Protocol*, Protocol_status status) override;
    void on_message(Packet& p) override;

    void OnLAPD_FlowStatusChange(ISDN::LAPD* lapd) override;
    void OnLAPD_NT_FlowStatusChange(ISDN::LAPD_NT* layer) override;

    Kind kind() const { return mKind; }
    const HDLC& channel() const { return *mChannel; }
    // User data refused because the channel was lost.
    unsigned unsent() const { return mUnsent; }
    ISDN::LAPD_NT* network() const { return mLapdNt; }

private:
    bool iactivate();
    void OnUpdateTimer();
    void HdlcReport();
    void IsdnReport();
    void Ss7Report();
    void FlowReport(bool congested);

    std::unique_ptr<HDLC> mChannel;
    Kind mKind = ss7;
    unsigned mTrunkIndex = 0;
    // Owned by the family; null when the kind has none.
    SS7::SLC* mSlc = nullptr;
    ISDN::LAPD* mLapd = nullptr;
    ISDN::LAPD_NT* mLapdNt = nullptr;
    HDLC::Notify* mHdlcListener = nullptr;
    ACP::TrunkState::NamedNumber mTrunkState = ACP::TrunkState::unknown;
    Timer mUpdateTimer;
    unsigned mUnsent = 0;
    Protocol_name_str mName;
};

class PstnFactory : public SlotFactory
{
public:
    static PstnFactory& instance();

    const char* GetName() const override { return "PSTN"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void SelfSignal(LGCP::Signal const& signal) override;

private:
    PstnFactory() = default;
};
