#include "test_slots.h"

namespace {

using J = std::vector<std::string>;
using SlotTest = test::SlotFixture;

TEST_F(SlotTest, TheLowerPrioritySideMakesAndUndoesTheSwitchConnection)
{
    struct Case {
        int source, receiver;
        J connect, disconnect;
    } cases[] = {
        // Equal: the receiver connects, the source disconnects.
        {0, 0, {"1.out", "2.in", "2.hwRx"}, {"1.unTx", "2.inRel", "1.outRel"}},
        {5, 2, {"1.out", "2.in", "1.hwTx"}, {"1.unTx", "2.inRel", "1.outRel"}},
        {2, 5, {"1.out", "2.in", "2.hwRx"}, {"2.unRx", "2.inRel", "1.outRel"}},
        {-1, 0, {"1.out", "2.in", "2.hwRx"}, {"2.unRx", "2.inRel", "1.outRel"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.source) + " vs " + std::to_string(c.receiver));
        auto& source = make(1, 8192 + 1, c.source);
        auto& receiver = make(2, 8192 + 2, c.receiver);
        journal.clear();
        EXPECT_TRUE(Connect(source, receiver));
        EXPECT_EQ(journal, c.connect);
        EXPECT_EQ(receiver.GetSource(), &source);
        EXPECT_EQ(sw.Source(8192 + 2), 8192 + 1);
        journal.clear();
        EXPECT_TRUE(Disconnect(receiver));
        EXPECT_EQ(journal, c.disconnect);
        EXPECT_EQ(receiver.GetSource(), nullptr);
        EXPECT_TRUE(source.GetReceivers().empty());
        EXPECT_TRUE(sw.IsIdle(8192 + 2));
        Slots::instance().Clear();
    }
}

TEST_F(SlotTest, RefusedConnectionsGiveBackWhatTheyTook)
{
    test::Capture errors(std::cerr);
    auto& source = make(1, 8193);
    auto& receiver = make(2, 8194);

    source.output = false;
    journal.clear();
    EXPECT_FALSE(Connect(source, receiver));
    EXPECT_EQ(journal, (J{"1.out"}));
    EXPECT_EQ(errors.take(), "slot 01:test don't have output stream to 02:test\n");

    source.output = true;
    receiver.input = false;
    journal.clear();
    EXPECT_FALSE(Connect(source, receiver));
    EXPECT_EQ(journal, (J{"1.out", "2.in", "1.outRel"}));
    EXPECT_EQ(errors.take(), "slot 02:test don't have input stream from 01:test\n");

    receiver.input = true;
    receiver.hw = false;
    journal.clear();
    EXPECT_FALSE(Connect(source, receiver));
    EXPECT_EQ(journal, (J{"1.out", "2.in", "2.hwRx", "2.inRel", "1.outRel"}));
    EXPECT_EQ(receiver.GetSource(), nullptr);
    EXPECT_TRUE(sw.Connections().empty());

    // The switch refuses a slot without a channel.
    receiver.hw = true;
    receiver.channel = -1;
    EXPECT_FALSE(Connect(source, receiver));
    EXPECT_NE(errors.take().find("hwMux: connect failed 8193 -> -1 : "), std::string::npos);
    EXPECT_TRUE(source.GetReceivers().empty());

    // A second receiver does not ask the source's output again.
    receiver.channel = 8194;
    auto& third = make(3, 8195);
    ASSERT_TRUE(Connect(source, receiver));
    journal.clear();
    ASSERT_TRUE(Connect(source, third));
    EXPECT_EQ(journal, (J{"3.in", "3.hwRx"}));
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{8194, 8193}, {8195, 8193}}));
    // A receiver refused beside them leaves the output the others use.
    auto& fourth = make(4, 8196);
    fourth.input = false;
    journal.clear();
    EXPECT_FALSE(Connect(source, fourth));
    EXPECT_EQ(journal, (J{"4.in"}));
    errors.take();
    // A fed receiver is not taken by another source.
    EXPECT_TRUE(Connect(source, third));
    EXPECT_FALSE(Connect(receiver, third));
    EXPECT_EQ(third.GetSource(), &source);

    // The output is released with the last receiver only.
    journal.clear();
    EXPECT_TRUE(Disconnect(receiver));
    EXPECT_EQ(journal, (J{"1.unTx", "2.inRel"}));
    EXPECT_TRUE(Disconnect(receiver)); // no source: nothing to do
    journal.clear();
    EXPECT_TRUE(Disconnect(third));
    EXPECT_EQ(journal, (J{"1.unTx", "3.inRel", "1.outRel"}));
}

TEST_F(SlotTest, SwitchRefusingADisconnectKeepsTheLinkUnlessForced)
{
    test::Capture log(std::clog);
    test::Capture errors(std::cerr);
    auto& source = make(4, 8192 + 128 * 3 + 9);
    auto& receiver = make(12, 8192 + 5);
    ASSERT_TRUE(Connect(source, receiver));
    EXPECT_EQ(log.take(), "mux: slot 04:test (8585) -> slot 12:test (8197)\n");

    board.FailRequest("/dev/hal", 0x80084D11UL, EIO);
    EXPECT_FALSE(Disconnect(receiver));
    EXPECT_EQ(receiver.GetSource(), &source);
    EXPECT_EQ(sw.Source(8197), 8585);
    EXPECT_NE(errors.take().find("hwMux: disconnect failed 8197 : "), std::string::npos);

    board.FailRequest("/dev/hal", 0x80084D11UL, EIO);
    Unlink(receiver);
    EXPECT_EQ(receiver.GetSource(), nullptr);
    EXPECT_TRUE(source.GetReceivers().empty());

    ASSERT_TRUE(Connect(source, receiver));
    log.take();
    EXPECT_TRUE(Disconnect(receiver));
    EXPECT_EQ(log.take(), "mux: disconnect slot 12:test (8197)\n");
    EXPECT_TRUE(sw.IsIdle(8197));
}

TEST_F(SlotTest, StreamChangesAreReportedOnceAndInactiveOnesDisconnect)
{
    test::Capture errors(std::cerr);
    auto& source = make(1, 8300);
    auto& a = make(2, 8301);
    auto& b = make(3, 8302);

    source.OnChangeOutputStream(true);
    source.OnChangeOutputStream(true);
    a.OnChangeInputStream(true);
    EXPECT_TRUE(source.GetOutputStream());
    EXPECT_TRUE(a.GetInputStream());
    EXPECT_EQ(reports.lines, (J{"1.transmitter on 8300", "2.receiver on 8301"}));

    ASSERT_TRUE(Connect(source, a));
    ASSERT_TRUE(Connect(source, b));
    reports.lines.clear();
    a.OnChangeInputStream(false);
    EXPECT_EQ(a.GetSource(), nullptr);
    EXPECT_EQ(reports.lines, (J{"2.receiver off 8301"}));

    // A receiver the switch will not let go stays, and is reported.
    ASSERT_TRUE(Connect(source, a));
    a.unhw = false;
    source.unhw = false;
    reports.lines.clear();
    source.OnChangeOutputStream(false);
    EXPECT_EQ(errors.take(), "mux: internal error: expected slots not exists.\n");
    EXPECT_EQ(reports.lines, (J{"1.transmitter off 8300"}));
    source.unhw = true;
    reports.lines.clear();
    source.OnChangeOutputStream(true);
    source.OnChangeOutputStream(false);
    EXPECT_TRUE(source.GetReceivers().empty());
    EXPECT_EQ(errors.take(), "");
    EXPECT_EQ(reports.lines, (J{"1.transmitter on 8300", "1.transmitter off 8300"}));
    EXPECT_TRUE(sw.Connections().empty());
}

TEST_F(SlotTest, DestroyUndoesConnectionsAndLosingTheLinkDestroysNewestFirst)
{
    Slots& slots = Slots::instance();
    make(5, 8500);
    auto& second = make(3, 8501);
    make(9, 8502);
    auto& deferred = make(0, 8503);
    ASSERT_EQ(slots.Connect(5, {3, 9}), Answer::success);
    ASSERT_EQ(slots.Connect(9, {0}), Answer::success);
    std::ostringstream dump;
    slots.Put(dump);
    EXPECT_EQ(dump.str(), "slots: 4\n  00:test tx=8503 rx=8503 from=09:test\n"
                          "  03:test tx=8501 rx=8501 from=05:test\n  05:test tx=8500 rx=8500 to=03:test to=09:test\n"
                          "  09:test tx=8502 rx=8502 from=05:test to=00:test\n");

    // Destroying a source leaves its receivers unfed and idle.
    EXPECT_EQ(slots.Destroy(5), Answer::success);
    EXPECT_EQ(second.GetSource(), nullptr);
    EXPECT_TRUE(sw.IsIdle(8501));
    EXPECT_TRUE(sw.IsIdle(8502));

    deferred.destroyNow = false;
    make(7, 8504);
    journal.clear();
    slots.DestroyAll();
    EXPECT_EQ(journal, (J{"7.destroy", "9.unTx", "0.inRel", "9.outRel", "0.destroy", "9.destroy", "3.destroy"}));
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_EQ(slots.count(), 1u);
    EXPECT_TRUE(deferred.is_releasing());
    dump.str("");
    slots.Put(dump);
    EXPECT_EQ(dump.str(), "slots: 1\n  00:test tx=8503 rx=8503 releasing\n");

    // A deferred destroy still ends; its slot number is then free.
    deferred.on_release();
    EXPECT_EQ(slots.count(), 0u);
    EXPECT_TRUE(factory.slots().empty());
    // on_release of a slot that is not releasing does nothing.
    auto& live = make(2, 8505);
    live.on_release();
    EXPECT_EQ(slots.Find(2), &live);

    // A slot that its factory drops leaves no entry behind.
    struct Plain : Slot {
        using Slot::Slot;
        const char* GetName() const override { return "plain"; }
    };
    auto* dropped = new Plain(factory);
    dump.str("");
    dump << *dropped << " "; // no number yet
    Slots::instance().Enter(8, *dropped);
    dump << *dropped;
    EXPECT_EQ(dump.str(), "na:plain 08:plain");
    delete dropped;
    EXPECT_EQ(Slots::instance().Find(8), nullptr);
    EXPECT_EQ(Slots::instance().Free(8), Answer::success);
}

} // namespace
