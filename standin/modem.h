#pragma once

#include "standin/board.h"

#include <map>
#include <utility>
#include <string>
#include <vector>

// The DSP modems behind "/dev/mctl" and the board's hdlcN network
// interfaces. Each keeps a trace of the requests it was given, one line
// each, for the tests to compare.

namespace Standin {

class ModemControl : public Driver {
public:
    static constexpr int kModems = 4;
    // Modem n runs on switch channel 8192 + 14 * 128 + 64 + n (the QSIG
    // channels of "/dev/dsp-data" start that bus).
    static int Timeslot(int modem) { return 8192 + 14 * 128 + 64 + modem; }

    void SetModems(int count);
    int modems() const { return static_cast<int>(mBusy.size()); }
    bool IsAllocated(int modem) const;
    // The enumeration answers these numbers in turn, whatever it is asked,
    // then ends: a driver that repeats itself or never ends.
    void Script(std::vector<int> numbers)
    {
        mScript = std::move(numbers);
        mScripted = 0;
    }

    // "allocate 0", "timeslot 0", "ddm 0 0x3", "reset-dmp 0", "dmp 0 5 7",
    // "answer 0", "originate 0", "fax-originate 0"; enumeration is left out.
    std::vector<std::string> trace;

    int OnRequest(Channel& channel, unsigned long code, void* arg) override;
    void OnClose(Channel& channel) override;

private:
    std::vector<bool> mBusy = std::vector<bool>(kModems);
    std::vector<int> mScript;
    size_t mScripted = 0;
};

class NetInterfaces : public Driver {
public:
    struct Interface {
        int index;
        short flags;
        int proto;   // IF_PROTO_* last set, 0 none
        int channel; // the slot-map word of its settings
    };

    NetInterfaces();
    // Interface hdlcN runs on switch channel 8192 + 15 * 128 + N.
    static int Channel(int n) { return 8192 + 15 * 128 + n; }
    // Adds or replaces an interface; indexes follow the order of adding.
    void Set(const std::string& name, short flags, int channel);
    void Remove(const std::string& name);
    const Interface* Find(const std::string& name) const;

    // "SIOCGIFFLAGS hdlc0", "SIOCSIFFLAGS hdlc0 0x10", "SIOCWANDEV hdlc0
    // get-iface", "... ppp", "... hdlc 0 0"; index requests are left out.
    std::vector<std::string> trace;
    // SIOCWANDEV requests of this settings type fail with EINVAL.
    int refuseType = 0;

    int OnRequest(Standin::Channel& channel, unsigned long code, void* arg) override;

private:
    std::map<std::string, Interface> mInterfaces;
    int mNextIndex = 10;
};

} // namespace Standin
