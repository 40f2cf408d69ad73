// The signal units the link sends, judged by tshark's MTP2 dissector: each
// must carry the fields the test meant, with no length or format warning.
#include "ss7_fixture.h"
#include "tests/net/tshark.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

using namespace ss7test;

namespace {

char const tshark[] = "/usr/bin/tshark";

// What a unit should read as: LSSUs with a status, others with the octets after the LI.
struct Meant {
    unsigned bsn, bib, fsn, fib, li;
    int status; // -1: none
    unsigned data;
};

std::string line_of(const Meant& m)
{
    std::ostringstream os;
    os << m.bsn << '\t' << m.bib << '\t' << m.fsn << '\t' << m.fib << '\t' << m.li << '\t'
       << (m.status < 0 ? std::string() : std::to_string(m.status)) << '\t' << (m.data ? std::to_string(m.data) : "")
       << "\t\t";
    return os.str();
}

} // namespace

TEST(Ss7Wire, UnitsWeSendAreTheUnitsTsharkSees)
{
    if (::access(tshark, X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed";
    std::vector<Bytes> units;
    std::vector<std::string> meant;
    auto expect = [&](Link& l, std::vector<Meant> m) {
        for (const Bytes& u : l.wire.take())
            units.push_back(u);
        for (const Meant& x : m)
            meant.push_back(line_of(x));
        ASSERT_EQ(units.size(), meant.size());
    };
    auto status = [](int s) { return Meant{127, 1, 127, 1, 1, s, 0}; };
    Clock clock;

    Link l;
    l.slc->local_activate();
    expect(l, {status(0)});
    l.rx(lssu(SS7::SIO));
    expect(l, {status(1)});
    l.rx(lssu(SS7::SIN));
    expect(l, {status(1)});
    l.rx(su(127, true, 127, true));
    expect(l, {{127, 1, 127, 1, 0, -1, 0}, {127, 1, 127, 1, 0, -1, 0}});

    // MSUs of every LI form; the far end's MSU acknowledged.
    l.send(msu_payload(1, 3));
    l.rx(su(127, true, 0, true, msu_payload(2)));
    l.send(msu_payload(3, 62));
    l.send(msu_payload(4, 63));
    l.send(msu_payload(5, 273));
    expect(l, {{127, 1, 0, 1, 3, -1, 3}, {0, 1, 0, 1, 0, -1, 0}, {0, 1, 1, 1, 62, -1, 62}, {0, 1, 2, 1, 63, -1, 63},
               {0, 1, 3, 1, 63, -1, 273}});
    // The far end asks for FSN 1 on: the repeats carry FIB 0.
    l.rx(su(0, false, 0, true));
    expect(l, {{0, 1, 1, 0, 62, -1, 62}, {0, 1, 2, 0, 63, -1, 63}, {0, 1, 3, 0, 63, -1, 273}});
    // FSNs over the wrap.
    l.rx(su(3, false, 0, true));
    std::vector<Meant> wrap;
    for (unsigned i = 0; i < 130; ++i) {
        l.send(msu_payload(i, 5));
        wrap.push_back({0, 1, (4 + i) % 128, 0, 5, -1, 5});
        if (i == 100)
            l.rx(su(104, false, 0, true));
    }
    expect(l, wrap);
    // A gap in the far end's FSNs: our BIB inverts.
    l.rx(su(5, false, 3, true, msu_payload(6)));
    expect(l, {{0, 0, 5, 0, 0, -1, 0}});
    l.slc->local_deactivate();
    expect(l, {status(3)});

    Link e(true);
    e.slc->local_activate();
    e.rx(lssu(SS7::SIO));
    expect(e, {status(0), status(2)});

    // A capture of link type 140 (MTP2 without check bits), read back with
    // MTP3 off, a line of fields per unit.
    test::Dissection d = test::Dissect(test::OffsetDump(units), "-l 140",
                                       "--disable-protocol mtp3 -T fields -E separator=/t"
                                       " -e mtp2.bsn -e mtp2.bib -e mtp2.fsn -e mtp2.fib -e mtp2.li -e mtp2.sf"
                                       " -e data.len -e _ws.expert -e _ws.malformed");
    ASSERT_TRUE(d.ok) << d.why;
    EXPECT_EQ(d.lines, meant);
}
