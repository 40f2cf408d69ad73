// The read-only SEQUENCE walk. The codecs' own tests reach the hook codes of
// the writable walk that the decoders return.
#include "fixtures.h"

#include <gtest/gtest.h>

using namespace ASN1;
using namespace fixtures;

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
