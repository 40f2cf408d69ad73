#pragma once

// The controller link with the TDM and data slot kinds made, and builders
// of the commands their tests send.

#include "tests/core/link_fixture.h"

#include <functional>

namespace tdmtest {

using namespace test;

// A command on a slot, its body filled by the caller.
inline LGCP::Message Do(unsigned seq, int slot, std::function<void(LGCP::Command&)> fill)
{
    LGCP::Message m = Command(seq, slot);
    fill(Body(m));
    return m;
}

inline LGCP::Message Destroy(unsigned seq, int slot)
{
    return Do(seq, slot, [](LGCP::Command& c) { c.select_destroy(); });
}

inline LGCP::Message Activate(unsigned seq, int slot)
{
    return Do(seq, slot, [](LGCP::Command& c) { c.select_activate().select_none(); });
}

inline LGCP::Message Deactivate(unsigned seq, int slot)
{
    return Do(seq, slot, [](LGCP::Command& c) { c.select_deactivate(); });
}

inline LGCP::Message UserData(unsigned seq, int slot, std::vector<char> const& data)
{
    return Do(seq, slot, [&](LGCP::Command& c) { c.select_userData() = data; });
}

inline LGCP::Message Query(unsigned seq)
{
    return Do(seq, -1, [](LGCP::Command& c) { c.select_query(); });
}

inline LGCP::Message Ioctl(unsigned seq, int slot, std::function<void(LGCP::IoctlParams&)> fill)
{
    return Do(seq, slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
}

// An ISDN link on trunk 1, as the ISDN and PSTN creates carry it.
inline void FillIsdn(LGCP::IsdnParams& p, bool bri, bool network)
{
    p.get_type() = bri ? LGCP::IsdnType::bri : LGCP::IsdnType::pri;
    p.set_trunk(1);
    p.set_log(0);
    if (network)
        p.get_side().select_network();
    else
        p.get_side().select_user();
}

// The resources of a query's answer: the signal, then the success.
inline LGCP::Resources Resources(std::vector<LGCP::Message> const& got)
{
    EXPECT_EQ(got.size(), 2u);
    if (got.size() != 2 || !got[0].get_pdu().signal_isSelected()
        || !got[0].get_pdu().get_signal().resources_isSelected()) {
        ADD_FAILURE() << "no resources";
        return LGCP::Resources();
    }
    return got[0].get_pdu().get_signal().get_resources();
}

inline const LGCP::Signal& SignalOf(LGCP::Message const& m)
{
    return SELECTED(m.get_pdu(), signal);
}

} // namespace tdmtest
