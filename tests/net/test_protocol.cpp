// Layer paths: activation climbs from the wire, success goes down, errors
// go up, packets cross every layer of nested families in order.
#include "net/protocol.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace nettest;

namespace {

std::vector<std::string> trace;
int destroyed = 0;

// Pushes its tag on the way down, checks and pulls it on the way up.
class Tagged : public Protocol
{
public:
    Tagged(char const* n, unsigned char tag, unsigned room)
        : mName(n), mTag(tag), mRoom(room) {}
    ~Tagged() override { ++destroyed; }

    Protocol_name const& name() const override { return mName; }
    void local_prepare_head(Packet& p) override { p.reserve_head(mRoom); }
    void local_activate() override
    {
        trace.push_back(mName.str() + ".activate");
        on_activate();
    }
    void local_deactivate() override
    {
        trace.push_back(mName.str() + ".deactivate");
        on_deactivate(Protocol_status(new Protocol_status_success(this, "done")));
    }
    void message(Packet& p) override
    {
        p.push8(mTag);
        transmit(p);
    }
    void receive(Packet& p) override
    {
        EXPECT_EQ(p.pull8(), mTag);
        on_message(p);
    }
    void fail(char const* why) { on_deactivate(Protocol_status(new Protocol_status_error(this, why))); }

private:
    Protocol_name_str mName;
    unsigned char mTag;
    unsigned mRoom;
};

class Family : public ProtocolsFamily
{
public:
    explicit Family(char const* n) : mName(n) {}
    ~Family() override { ++destroyed; }
    Protocol_name const& name() const override { return mName; }

private:
    Protocol_name_str mName;
};

// The outer owner: records what leaves the stack.
class Owner : public ProtocolsList
{
public:
    void on_activated(Protocol* p) override { trace.push_back("owner.activated " + p->name().str()); }
    void on_deactivated(Protocol* p, Protocol_status s) override
    {
        note("owner.deactivated " + p->name().str() + (s->is_error() ? " error " : " success "), s);
    }
    void list_on_message(Packet& p) override { up.push_back(p); }
    void list_transmit(Packet& p) override { down.push_back(p); }
    void list_on_status(Protocol* p, Protocol_status s) override { note("owner.status " + p->name().str() + " ", s); }
    void note(std::string const& what, Protocol_status s)
    {
        std::ostringstream os;
        os << what << s;
        trace.push_back(os.str());
    }
    std::vector<Packet> up, down;
};

// wire <- bottom [inner: a, b] top
struct Stack
{
    Stack()
    {
        trace.clear();
        destroyed = 0;
        inner->add_protocol_tail(a);
        inner->add_protocol_tail(b);
        owner.add_protocol_tail(bottom);
        owner.add_protocol_tail(inner);
        owner.add_protocol_tail(top);
    }
    Owner owner;
    Tagged* bottom = new Tagged("bottom", 0xB0, 1);
    Family* inner = new Family("inner");
    Tagged* a = new Tagged("a", 0xA1, 2);
    Tagged* b = new Tagged("b", 0xA2, 3);
    Tagged* top = new Tagged("top", 0x70, 4);
};

typedef std::vector<std::string> list;

} // namespace

TEST(ProtocolPaths, ActivationClimbsSuccessGoesDownErrorsGoUp)
{
    Stack s;
    list const up{"bottom.activate", "a.activate", "b.activate", "top.activate", "owner.activated top"};
    struct Step {
        std::function<void()> act;
        list want;
    } steps[] = {
        {[&] { s.top->activate(); }, up},
        {[&] { s.top->deactivate(); },
         {"top.deactivate", "b.deactivate", "a.deactivate", "bottom.deactivate",
          "owner.deactivated bottom success bottom: done"}},
        // The family, with no layer above it in its list, activates its own stack the same way.
        {[&] { s.inner->activate(); }, up},
        // Errors and status reports climb past every upper layer only.
        {[&] { s.a->fail("line down"); }, {"owner.deactivated top error a: line down"}},
        {[&] { s.bottom->fail("socket closed"); }, {"owner.deactivated top error bottom: socket closed"}},
        {[&] { s.b->on_status(Protocol_status(new Protocol_status_error(s.b, "congested"))); },
         {"owner.status top b: congested"}},
    };
    for (Step& step : steps) {
        trace.clear();
        step.act();
        EXPECT_EQ(trace, step.want);
    }

    // A report is printed with its layer's name and what the layer adds,
    // also once the layer is gone; the last copy frees it.
    struct StateStatus : Protocol_status_error {
        StateStatus(Protocol const* l, int* alive) : Protocol_status_error(l, "fault"), mAlive(alive) { ++*mAlive; }
        ~StateStatus() override { --*mAlive; }
        void out(std::ostream& os) const override
        {
            Protocol_status_error::out(os);
            os << " (state 7)";
        }
        int* mAlive;
    };
    int alive = 0;
    Protocol_status kept;
    {
        Tagged* l = new Tagged("lapd", 0, 0);
        kept = Protocol_status(new StateStatus(l, &alive));
        Protocol_status copy = kept;
        delete l;
    }
    EXPECT_EQ(alive, 1);
    std::ostringstream os;
    os << kept << "/" << Protocol_status(new Protocol_status_success(nullptr, "bye"));
    EXPECT_EQ(os.str(), "lapd: fault (state 7)/bye");
    kept = Protocol_status();
    EXPECT_EQ(alive, 0);
}

TEST(ProtocolPaths, LoneFamilyDropsAndListOwnsItsLayers)
{
    trace.clear();
    destroyed = 0;
    {
        Family f("alone");
        Tagged* x = new Tagged("x", 1, 1);
        f.add_protocol_tail(x);
        Packet p;
        f.prepare_head(p);
        p.put8(9);
        // Nothing under the family and no owner: dropped, climbs to nobody.
        f.message(p);
        f.activate();
        EXPECT_EQ(trace, list({"x.activate"}));
        x->fail("gone");
        f.delete_protocols();
        EXPECT_EQ(destroyed, 1);
        // An empty family does nothing at all.
        f.activate();
        f.deactivate();
        f.message(p);
        f.receive(p);
    }
    // Deleting a list deletes every layer, nested ones included, once.
    destroyed = 0;
    {
        Stack s;
    }
    EXPECT_EQ(destroyed, 5);
}

TEST(ProtocolPaths, PacketsCrossEveryLayerInOrderWithPreparedRoom)
{
    Stack s;
    Packet p;
    s.top->prepare_head(p);
    // 1 + 2 + 3 + 4 octets of the layers at and under the top one.
    EXPECT_EQ(p._headroom(), 10u);
    EXPECT_EQ(p.length(), 0u);
    p.put8(0x55);
    s.top->message(p);
    ASSERT_EQ(s.owner.down.size(), 1u);
    Packet& w = s.owner.down[0];
    EXPECT_EQ(bytes(w), (Bytes{0xB0, 0xA1, 0xA2, 0x70, 0x55}));
    // Each layer reserved more than its one-octet tag.
    EXPECT_EQ(w._headroom(), 6u);

    // Room of an inner layer counts what lies under the family too.
    Packet q;
    s.a->prepare_head(q);
    EXPECT_EQ(q._headroom(), 3u);

    // Back up from the wire: every layer takes its own tag off.
    Packet r = w;
    s.bottom->receive(r);
    ASSERT_EQ(s.owner.up.size(), 1u);
    EXPECT_EQ(bytes(s.owner.up[0]), Bytes{0x55});
    // The wire copy was shared, not changed.
    EXPECT_EQ(w.length(), 5u);

    // The family's own entries lead to its top and bottom layers.
    Packet m;
    s.inner->prepare_head(m);
    EXPECT_EQ(m._headroom(), 6u);
    m.put8(0x66);
    s.inner->message(m);
    ASSERT_EQ(s.owner.down.size(), 2u);
    EXPECT_EQ(bytes(s.owner.down[1]), (Bytes{0xB0, 0xA1, 0xA2, 0x66}));
}
