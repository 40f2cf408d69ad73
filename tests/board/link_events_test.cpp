#include "board/dsp_requests.h"
#include "media_slot.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

namespace {

constexpr int kT1 = 8192 + 6 * 128 + 30;
constexpr int kT2 = 8192 + 6 * 128 + 31;

class LinkEventsTest : public test::LinkFixture {
protected:
    boardtest::MediaSlot& Make(int id, int timeslot)
    {
        auto* slot = new boardtest::MediaSlot(factory, timeslot);
        Slots::instance().Enter(id, *slot);
        return *slot;
    }

    boardtest::NoFactory factory;
    Standin::Dtmf& dtmf = board.Get<Standin::Dtmf>(Tonec::kDevice);
    Standin::Dsproc& dsp = board.Get<Standin::Dsproc>(Dsp::kDevice);
};

TEST_F(LinkEventsTest, DetectorEventsLeaveAsTheirSlotsSignals)
{
    Make(12, kT1);
    Make(13, kT2);

    dtmf.Detect(kT1, 7, 99);
    std::vector<LGCP::Message> got = Receive(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FALSE(got[0].seq_isPresent());
    ASSERT_TRUE(got[0].slot_isPresent());
    EXPECT_EQ(got[0].get_slot().getValue(), 12u);
    ASSERT_TRUE(got[0].get_pdu().signal_isSelected());
    const LGCP::Signal& signal = got[0].get_pdu().get_signal();
    ASSERT_TRUE(signal.tonec_isSelected());
    EXPECT_EQ(signal.get_tonec().get_code().getValue(), 7);
    EXPECT_EQ(signal.get_tonec().get_timestamp().getValue(), 99);
    ExpectQuiet();

    dsp.Vad(kT2, false);
    got = Receive(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].get_slot().getValue(), 13u);
    ASSERT_TRUE(got[0].get_pdu().get_signal().vad_isSelected());
    EXPECT_FALSE(static_cast<bool>(got[0].get_pdu().get_signal().get_vad().get_active()));
}

} // namespace
