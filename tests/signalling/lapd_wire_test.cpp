// What the links send, judged by tshark's lapd, tei_management and q931
// dissectors: each frame must dissect as the kind, command or response and
// sequence numbers we meant, with nothing malformed. The frames go into a
// pcapng with the LAPD link type and a direction per frame (sent: the user
// side's, received: the network side's), so tshark reads the C/R bit.
#include "lapd_rig.h"
#include "tests/net/tshark.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

using namespace lapdtest;
using namespace ISDN;

namespace {

struct Sent
{
    Bytes frame;
    bool from_user;
};

// One line per frame: the Info column, the TEI reference, and "malformed"
// or the worst expert severity when there is one.
bool dissect(std::vector<Sent> const& frames, std::vector<std::string>* lines, std::string* why)
{
    std::string dump;
    for (Sent const& s : frames) {
        std::string h = hex(s.frame);
        h.erase(std::remove(h.begin(), h.end(), ' '), h.end());
        dump += (s.from_user ? "> " : "< ") + h + "\n";
    }
    test::Dissection d = test::Dissect(dump, "-l 203 -r '^(?<dir>[<>])\\s(?<data>[0-9a-fA-F]+)$'",
                                       "-T fields -E separator=/t -e _ws.col.Info -e tei.reference -e _ws.malformed"
                                       " -e _ws.expert.severity");
    *why = d.why;
    if (!d.ok)
        return false;
    lines->clear();
    for (std::string const& line : d.lines) {
        if (line.empty())
            continue;
        std::vector<std::string> f = test::Split(line, '\t');
        f.resize(4);
        lines->push_back(f[0] + (f[1].empty() ? std::string() : " ref=" + f[1]) + (f[2].empty() ? "" : " MALFORMED")
                         + (f[3].empty() ? std::string() : " expert=" + f[3]));
    }
    return true;
}

class LapdWire : public Clocked
{
protected:
    void take(Rig& r, bool from_user)
    {
        for (Bytes const& b : r.channel.sent)
            frames.push_back(Sent{b, from_user});
        r.channel.sent.clear();
    }
    std::vector<Sent> frames;
};

TEST_F(LapdWire, EveryFrameKindDissectsAsMeant)
{
    std::vector<std::string> expected;
    {
        Rig u; // user side, PRI
        u.link->activate();
        take(u, true);
        expected.push_back("TEI:00 U P, func=SABME | ");
        u.inject("00 01 73");
        u.send({0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x70, 0x04, 0x81, '1', '2', '3'});
        take(u, true);
        expected.push_back("TEI:00 I, N(R)=0, N(S)=0 | SETUP");
        u.inject("02 01 00 01 08 01 81 01"); // ALERTING with P = 1
        take(u, true);
        expected.push_back("TEI:00 S F, func=RR, N(R)=1 | ");
        u.inject("02 01 04 00 08 01 81 07"); // N(S) = 2: out of sequence
        take(u, true);
        expected.push_back("TEI:00 S, func=REJ, N(R)=1 | ");
        u.inject("02 01 06 00 08 01 81 07"); // N(S) = 3: no second REJ
        take(u, true);
        advance(LAPD::T200);
        take(u, true);
        expected.push_back("TEI:00 I P, N(R)=1, N(S)=0 | SETUP"); // T200's poll
        u.inject("00 01 01 03");
        u.inject("02 01 02 02 08 01 81 07");
        take(u, true);
        expected.push_back("TEI:00 S, func=RR, N(R)=2 | ");
        u.link->deactivate();
        take(u, true);
        expected.push_back("TEI:00 U P, func=DISC | ");
        u.inject("02 01 7F");
        take(u, true);
        expected.push_back("TEI:00 U F, func=DM | ");
        u.inject("00 01 73");
        u.inject("02 01 7F");
        take(u, true);
        expected.push_back("TEI:00 U F, func=UA | ");
    }
    std::vector<std::string> refs;
    {
        Rig b(Side::user, true); // BRI: identity request and check response
        b.inject("FE FF 03 0F 00 00 06 FF");
        refs.push_back(std::to_string((b.link->ri() & 0xFF) << 8 | b.link->ri() >> 8));
        take(b, true);
        expected.push_back("TEI:127 U, func=UI | Identity Request ref=" + refs.back());
        b.inject("FE FF 03 0F " + hex({uint8_t(b.link->ri()), uint8_t(b.link->ri() >> 8)}) + " 02 8D");
        b.inject("FE FF 03 0F 00 00 04 FF");
        take(b, true);
        expected.push_back("TEI:127 U, func=UI | Identity Check Response ref=" + refs.back());
    }
    {
        Rig n(Side::network); // the network side's commands carry C/R = 1
        n.link->activate();
        take(n, false);
        expected.push_back("TEI:00 U P, func=SABME | ");
        n.inject("02 01 73");
        n.inject("00 01 01 01");
        advance(LAPD::T203); // the enquiry
        take(n, false);
        expected.insert(expected.end(), {"TEI:00 S F, func=RR, N(R)=0 | ", "TEI:00 S P, func=RR, N(R)=0 | "});
    }
    // Ri goes out low octet first (the line's peers expect it so); tshark
    // reads the reference high octet first, hence the swapped refs above.
    std::vector<std::string> lines;
    std::string why;
    ASSERT_TRUE(dissect(frames, &lines, &why)) << why;
    EXPECT_EQ(lines, expected);
}

} // namespace
