// The two SEQUENCE walks and their hook codes.
#include "fixtures.h"

#include <gtest/gtest.h>

using namespace ASN1;
using namespace fixtures;

TEST(Visitor, SequenceWalkFollowsHookCodes)
{
    // every root field is offered, absent ones too
    Calls const roots = {"preRoots", "root 0 -1", "root 1 0", "root 2 1"};
    Calls all = roots;
    for (char const* c : {"preExt", "known 3 2", "known 4 3", "known 5 4", "known 6 5", "unknown"})
        all.push_back(c);
    struct Case {
        int Recorder::*hook;
        int code;
        bool result;
        std::size_t calls;
    } const cases[] = {
        {&Recorder::preRoots, Visitor::CONTINUE, true, all.size()},
        {&Recorder::preRoots, Visitor::STOP, true, 1},
        {&Recorder::preRoots, Visitor::FAIL, false, 1},
        {&Recorder::preRoots, Visitor::NO_EXTENSION, true, 4},
        {&Recorder::root, Visitor::NO_EXTENSION, true, all.size()}, // goes on as 3 does
        {&Recorder::root, Visitor::STOP, true, 2},
        {&Recorder::root, Visitor::FAIL, false, 2},
        {&Recorder::preExt, Visitor::STOP, true, 5},
        {&Recorder::preExt, Visitor::FAIL, false, 5},
        {&Recorder::preExt, Visitor::NO_EXTENSION, true, 5},
        {&Recorder::known, Visitor::NO_EXTENSION, true, 6}, // ends the walk with success
        {&Recorder::known, Visitor::FAIL, false, 6},
    };
    SEQUENCE s(&extInfo);
    for (auto const& c : cases) {
        Recorder r;
        r.*c.hook = c.code;
        EXPECT_EQ(s.accept(r), c.result) << c.code << " after " << r.calls.back();
        EXPECT_EQ(r.calls, Calls(all.begin(), all.begin() + long(c.calls))) << c.code;
    }
}

TEST(ConstVisitor, WalkOffersPresentFieldsOnly)
{
    SEQUENCE s(&extInfo);
    auto walk = [&s] {
        ConstRecorder r;
        EXPECT_TRUE(static_cast<SEQUENCE const&>(s).accept(r));
        return r.calls;
    };
    EXPECT_EQ(walk(), Calls{"root 0"}); // no extension map: no preExt
    s.includeOptionalField(OPT_O2, O2);
    s.includeOptionalField(OPT_X2, X2);
    s.removeOptionalField(OPT_X2); // map of 2 bits, none set
    EXPECT_EQ(walk(), (Calls{"root 0", "root 2", "preExt"}));
    s.includeOptionalField(OPT_X3, X3);
    s.includeOptionalField(OPT_X1, X1);
    EXPECT_EQ(walk(), (Calls{"root 0", "root 2", "preExt", "known 3", "known 5"}));

    // an extension part refused fails the walk before any addition
    struct Refuses : ConstRecorder {
        bool preVisitExtensions(SEQUENCE const& v) override
        {
            ConstRecorder::preVisitExtensions(v);
            return false;
        }
    } refuses;
    EXPECT_FALSE(static_cast<SEQUENCE const&>(s).accept(refuses));
    EXPECT_EQ(refuses.calls, (Calls{"root 0", "root 2", "preExt"}));

    // a present field without an object is a broken value, not a crash
    s.optionalMap().set(OPT_O1);
    ConstRecorder r;
    EXPECT_FALSE(static_cast<SEQUENCE const&>(s).accept(r));

    // the default hooks accept every value but fail on a present field
    ConstVisitor plain;
    EXPECT_TRUE(INTEGER(3).accept(plain));
    SEQUENCE empty(&extInfo);
    EXPECT_FALSE(static_cast<SEQUENCE const&>(empty).accept(plain));
}
