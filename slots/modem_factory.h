#pragma once

#include "core/slot.h"
#include "slots/auth_service.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class ModemSlot;
class DspModemSlot;
class HdlcModemSlot;

// Makes the modem slots: a digital modem on a free hdlcN interface when the
// create asks for digital data modes, else a DSP modem. Runs the local
// authentication service of the modem peers and routes its records.
class ModemFactory : public SlotFactory, private AuthService::Notify {
public:
    // At most this many DSP modems are asked for and counted.
    static constexpr size_t kMaxModems = 256;

    static ModemFactory& instance();
    // Test-only: the service's port (0: any free one), taken when the
    // factory is first built.
    static void SetAuthPort(uint16_t port);

    const char* GetName() const override { return "Modem"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    void ReleaseModemSlot(DspModemSlot* slot);
    void ReleaseModemSlot(HdlcModemSlot* slot);
    ModemSlot* FindModemByDsp(int id) const;
    // To the connection that spoke last for the slot; logged when none did.
    void SendAuth(ModemSlot& slot, const std::vector<uint8_t>& record);

    void update_modemDevices();
    void update_hdlcDevices();

    int modems() const { return mModems; }
    const std::vector<std::string>& freeInterfaces() const { return mFreeHdlc; }
    const std::vector<ModemSlot*>& modemSlots() const { return mAll; }
    AuthService& auth() { return mAuth; }

    void PutHeader(std::ostream& os) const override;

private:
    ModemFactory();
    ~ModemFactory() override;

    std::string OnAuthRecord(AuthClient& client, const ModemAuth::Record& record) override;
    ModemSlot* Route(AuthClient& client, uint32_t session) const;
    bool Held(const std::string& name) const;

    std::vector<DspModemSlot*> mDsp;
    std::vector<HdlcModemSlot*> mHdlc;
    std::vector<ModemSlot*> mAll;
    int mModems = 0;
    AuthService mAuth;
    std::vector<std::string> mFreeHdlc;
};
