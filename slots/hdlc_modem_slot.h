#pragma once

#include "slots/modem_slot.h"

#include <string>

// A digital modem: PPP over one of the board's hdlcN network interfaces.
// The first stream query switches the interface to PPP and starts pppd on
// it; the destroy takes it down and back to raw HDLC.
class HdlcModemSlot : public ModemSlot {
public:
    static constexpr const char* kOptions = "/usr/local/etc/ppp/ioptions";

    HdlcModemSlot(const TERM::ModemParams& params, const std::string& name);
    ~HdlcModemSlot() override;

    const char* GetName() const override { return "digital-modem"; }
    void IAfterCreate() override {}
    // True once the interface's switch channel is known.
    bool IOnOutputStream() override;
    bool IOnInputStream() override;
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    // Digital modems have no number: their records carry 0xFFFFFFFF.
    int modem_id() const override { return -1; }
    void unbind() override;

    void initModem();
    const std::string& deviceName() const { return mName; }

private:
    void TearDown();

    int mChannel = -1;
    std::string mName;
};
