#pragma once

#include "framework/fd.h"
#include "slots/modem_slot.h"

// A modem slot on one of the board's DSP modems: the modem is taken from
// "/dev/mctl" and programmed when a connection first asks for a stream,
// then answers or originates a data call under pppd, or sends or receives
// a fax with the fax program.
class DspModemSlot : public ModemSlot {
public:
    static constexpr const char* kFaxSender = "/usr/local/sbin/fax";
    static constexpr const char* kFaxReceiver = "/usr/local/bin/fax";

    explicit DspModemSlot(const TERM::ModemParams& params);
    ~DspModemSlot() override;

    const char* GetName() const override { return "dsp-modem"; }
    void IAfterCreate() override {}
    // True once the modem has its time slot.
    bool IOnOutputStream() override;
    bool IOnInputStream() override;
    int IGetTransmitChannel() override { return mTimeslot; }
    int IGetReceiveChannel() override { return mTimeslot; }
    int modem_id() const override { return mModem; }
    void unbind() override;

    void InitModem();
    void RunFaxReceiver();
    void on_fax_terminate(int status);

private:
    void FaxTransfer();
    // Answer, originate or fax originate; false, with the log line and the
    // abort signal, when the driver refuses.
    bool Call(unsigned long code, const char* failure);
    void StartFax(const std::vector<std::string>& argv, const char* what);

    Fd mControl;
    int mTimeslot = -1;
    int mModem = -1;
};
