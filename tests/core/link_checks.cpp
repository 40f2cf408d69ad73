#include "link_fixture.h"

namespace test {

void ExpectStream(LGCP::Message const& m, int slot, bool transmitter, bool active, int channel)
{
    EXPECT_FALSE(m.seq_isPresent());
    ASSERT_TRUE(m.slot_isPresent());
    EXPECT_EQ(static_cast<int>(m.get_slot().getValue()), slot);
    ASSERT_TRUE(m.get_pdu().signal_isSelected());
    const LGCP::Signal& s = m.get_pdu().get_signal();
    ASSERT_TRUE(transmitter ? s.transmitter_isSelected() : s.receiver_isSelected()) << m;
    const LGCP::StreamState& state = transmitter ? s.get_transmitter() : s.get_receiver();
    EXPECT_EQ(static_cast<bool>(state.get_active()), active);
    EXPECT_EQ(state.get_channel().getValue(), channel);
}

void ExpectAnswer(LGCP::Message const& m, long seq, int slot, int cause)
{
    if (seq < 0) {
        EXPECT_FALSE(m.seq_isPresent()) << m;
    } else {
        ASSERT_TRUE(m.seq_isPresent()) << m;
        EXPECT_EQ(static_cast<long>(m.get_seq().getValue()), seq);
    }
    if (slot < 0) {
        EXPECT_FALSE(m.slot_isPresent()) << m;
    } else {
        ASSERT_TRUE(m.slot_isPresent()) << m;
        EXPECT_EQ(static_cast<int>(m.get_slot().getValue()), slot);
    }
    ASSERT_TRUE(m.get_pdu().response_isSelected()) << m;
    const LGCP::Response& r = m.get_pdu().get_response();
    if (cause < 0) {
        EXPECT_TRUE(r.success_isSelected()) << m;
    } else {
        ASSERT_TRUE(r.error_isSelected()) << m;
        EXPECT_EQ(r.get_error().asInt(), cause) << m;
    }
}

} // namespace test
