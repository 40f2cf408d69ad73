// The link on a real HDLC channel in SS7 mode, over the stand-in MCC: units
// cross the device both ways, and a unit the full channel refused goes out
// when the channel reports ready.
#include "ss7_fixture.h"

#include "board/hdlc.h"
#include "board/hw_mux.h"
#include "board/mcc.h"
#include "standin/board.h"
#include "standin/mcc.h"
#include "samples/link/loop_driver.h"

#include <csignal>

using namespace ss7test;

TEST(Ss7Channel, AlignsAndResumesAfterTheChannelRefused)
{
    ::signal(SIGPIPE, SIG_IGN);
    Standin::Board board;
    Standin::Mcc& mcc = board.Get<Standin::Mcc>("/dev/mcc/ctl");
    ASSERT_TRUE(HwMux::instance().Open());
    test::LoopDriver loop;
    test::Capture debug(std::clog);
    {
        HDLC channel;
        Owner owner;
        auto* slc = new SS7::SLC;
        owner.add_protocol_tail(slc);
        slc->hdlc(&channel);
        channel.bind(slc);
        HDLC::Params p = channel.params();
        p.mode = HDLC::ss7;
        p.tdm = 8192 + 128 + 16;
        channel.params(p);
        ASSERT_TRUE(channel.activate());
        ASSERT_EQ(mcc.Timeslots().size(), 1u);
        int ts = mcc.Timeslots()[0];
        EXPECT_EQ(mcc.At(ts)->kind, uint32_t(Mcc::kSs7));

        slc->local_activate();
        EXPECT_EQ(mcc.Written(ts), std::vector<Bytes>{lssu(SS7::SIO)});
        ASSERT_TRUE(mcc.Inject(ts, lssu(SS7::SIN)));
        ASSERT_TRUE(mcc.Inject(ts, su(127, true, 127, true)));
        ASSERT_TRUE(loop.RunUntil([&] { return slc->get_state_id() == SS7::SLC::State::worked; }));
        EXPECT_EQ(kinds(mcc.Written(ts)), (std::vector<std::string>{"SIN", "FISU", "FISU"}));

        ASSERT_TRUE(mcc.Refuse(ts));
        Packet m;
        slc->prepare_head(m);
        std::memcpy(m.put(4), "\x03\x01\x02\x03", 4);
        slc->message(m);
        std::vector<Bytes> written;
        ASSERT_TRUE(loop.RunUntil([&] {
            for (const Bytes& u : mcc.Written(ts))
                written.push_back(u);
            return !written.empty();
        }));
        EXPECT_EQ(written, std::vector<Bytes>{su(127, true, 0, true, {0x03, 0x01, 0x02, 0x03})});
        EXPECT_EQ(debug.count("(worked): hdlc ready"), 1u);

        ASSERT_TRUE(mcc.Inject(ts, su(0, true, 0, true, msu_payload(5))));
        ASSERT_TRUE(loop.RunUntil([&] { return owner.delivered.size() == 1; }));
        EXPECT_EQ(owner.delivered[0], msu_payload(5));
        EXPECT_EQ(mcc.Written(ts), std::vector<Bytes>{su(0, true, 0, true)});
        channel.deactivate();
        channel.bind(nullptr);
    }
    HwMux::instance().Close();
    EXPECT_EQ(multiplexer.handler_count(), 0u);
}
