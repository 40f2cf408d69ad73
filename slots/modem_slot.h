#pragma once

#include "core/slot.h"
#include "framework/child_wait.h"
#include "framework/timer.h"
#include "protocol/term.h"
#include "slots/modem_auth_record.h"

#include <iosfwd>
#include <string>
#include <vector>

class ModemFactory;

// The common part of the modem slots: the create parameters, the pppd (or
// fax) child and its stop on destroy, and the authentication records of the
// modem's peer in both directions.
class ModemSlot : public Slot {
public:
    static constexpr unsigned kTerminateMs = 5000;
    static constexpr const char* kPppd = "/usr/local/sbin/pppd";
    static constexpr size_t kMaxArgs = 64; // the null entry included

    explicit ModemSlot(const TERM::ModemParams& params);
    ~ModemSlot() override;

    const char* GetName() const override { return "generic-modem"; }
    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;

    // The session id of the modem's records; -1 while it has none.
    virtual int modem_id() const = 0;
    // Gives the modem back to the factory's inventory; twice is harmless.
    virtual void unbind() = 0;

    ModemFactory& factory() const;
    // The fault line of a record it does not take, or the note on one it
    // takes; empty when it takes it as it stands.
    std::string OnAuth(const ModemAuth::Record& record);
    bool EqAuthId(int id) const { return modem_id() == id; }
    bool pppd_executing() const { return mChild > 0; }
    int child() const { return mChild; }
    const TERM::ModemParams& params() const { return mParams; }

    // Test-only: runs `to` wherever the program at `path` is to run (the
    // argument vector keeps `path`); an empty `path` clears every redirect.
    static void RedirectProgram(const std::string& path, const std::string& to);

    // The slot's log prefix: "07:dsp-modem: ".
    std::ostream& Head(std::ostream& os) const;

protected:
    void pppd_exec(const std::string& device, const char* options);
    void pppd_kill();
    // Starts the program with the daemon's log on 1 and 2; the child's pid,
    // or -1 after the log line and the abort signal.
    int StartChild(const std::string& program, const std::vector<std::string>& argv);
    void on_terminate(int status);
    void on_terminate_timeout(Timer*);

    TERM::ModemParams mParams;
    int mChild = -1;
    ChildWait mWatch;
    Timer mTimer;

private:
    void OnAuthRequest(const ModemAuth::Record& record, std::ostream& note);
    void OnAcctInformation(const ModemAuth::Record& record);
};
