#pragma once

#include "framework/fd.h"

#include <iosfwd>

// The TDM switch on the board's control device. Channels are numbered
// 8192 + bus * 128 + time slot; a switch output is named by the channel
// that receives from it.
class HwMux
{
public:
    static HwMux& instance();

    // (Re)opens the control device; false, logged, when it cannot.
    bool Open();
    void Close();
    bool is_open() const { return mFd.is_valid(); }

    // Feeds the destination channel from the source channel.
    bool Connect(int source, int destination);
    // Puts the idle byte on the channel's output.
    bool Disconnect(int channel);
    // Frees and disables the channel's output.
    bool Disable(int channel);

    void PutHeader(std::ostream& os) const;

private:
    HwMux() = default;
    int Request(unsigned long code, void* arg, bool valid);

    Fd mFd;
};
