// The two SEQUENCE walks and the dispatch of every kind.
#include "fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ASN1;
using namespace fixtures;

namespace {

// Records the hooks it is called with and answers with scripted codes.
class Recorder : public Visitor {
public:
    int preRoots = CONTINUE, root = CONTINUE, preExt = CONTINUE, known = CONTINUE;
    std::vector<std::string> calls;

protected:
    bool note(char const* what)
    {
        calls.push_back(what);
        return true;
    }
    bool do_visit(Null&) override { return note("null"); }
    bool do_visit(BOOLEAN&) override { return note("boolean"); }
    bool do_visit(INTEGER&) override { return note("integer"); }
    bool do_visit(ENUMERATED&) override { return note("enumerated"); }
    bool do_visit(OBJECT_IDENTIFIER&) override { return note("oid"); }
    bool do_visit(OCTET_STRING&) override { return note("octets"); }
    bool do_visit(BIT_STRING&) override { return note("bits"); }
    bool do_visit(AbstractString&) override { return note("string"); }
    bool do_visit(BMPString&) override { return note("bmp"); }
    bool do_visit(CHOICE&) override { return note("choice"); }
    bool do_visit(SEQUENCE_OF_Base&) override { return note("list"); }
    bool do_visit(OpenData&) override { return note("open"); }
    bool do_revisit(OpenData&) override { return note("reopen"); }
    bool do_visit(TypeConstrainedOpenData&) override { return note("typed-open"); }
    bool do_visit(GeneralizedTime&) override { return note("time"); }
    int preVisitExtensionRoots(SEQUENCE&) override
    {
        note("preRoots");
        return preRoots;
    }
    int visitExtensionRoot(SEQUENCE&, int index, int id) override
    {
        calls.push_back("root " + std::to_string(index) + " " + std::to_string(id));
        return root;
    }
    int preVisitExtensions(SEQUENCE&) override
    {
        note("preExt");
        return preExt;
    }
    int visitKnownExtension(SEQUENCE&, int index, int opt) override
    {
        calls.push_back("known " + std::to_string(index) + " " + std::to_string(opt));
        return known;
    }
    bool visitUnknownExtensions(SEQUENCE&) override { return note("unknown"); }
};

class ConstRecorder : public ConstVisitor {
public:
    std::vector<std::string> calls;

protected:
    bool do_visit(INTEGER const&) override
    {
        calls.push_back("integer");
        return true;
    }
    bool do_visit(OpenData const&) override
    {
        calls.push_back("open");
        return true;
    }
    bool preVisitExtensions(SEQUENCE const&) override
    {
        calls.push_back("preExt");
        return true;
    }
    bool visitExtensionRoot(SEQUENCE const&, int index) override
    {
        calls.push_back("root " + std::to_string(index));
        return true;
    }
    bool visitKnownExtension(SEQUENCE const&, int index) override
    {
        calls.push_back("known " + std::to_string(index));
        return true;
    }
};

using Calls = std::vector<std::string>;

} // namespace

TEST(Visitor, SequenceWalkFollowsHookCodes)
{
    SEQUENCE s(&extInfo);
    {
        Recorder r;
        r.preRoots = Visitor::STOP;
        EXPECT_TRUE(s.accept(r));
        EXPECT_EQ(r.calls, Calls{"preRoots"});
    }
    {
        Recorder r;
        r.preRoots = Visitor::FAIL;
        EXPECT_FALSE(s.accept(r));
    }
    {
        Recorder r; // every root field offered, absent ones too
        r.preRoots = Visitor::NO_EXTENSION;
        EXPECT_TRUE(s.accept(r));
        EXPECT_EQ(r.calls, (Calls{"preRoots", "root 0 -1", "root 1 0", "root 2 1"}));
    }
    {
        Recorder r;
        EXPECT_TRUE(s.accept(r));
        EXPECT_EQ(r.calls, (Calls{"preRoots", "root 0 -1", "root 1 0", "root 2 1", "preExt", "known 3 2", "known 4 3",
                                  "known 5 4", "known 6 5", "unknown"}));
    }
    {
        Recorder r; // 2 from the first known extension ends the walk with success
        r.known = Visitor::NO_EXTENSION;
        EXPECT_TRUE(s.accept(r));
        EXPECT_EQ(r.calls, (Calls{"preRoots", "root 0 -1", "root 1 0", "root 2 1", "preExt", "known 3 2"}));
    }
    {
        Recorder r;
        r.known = Visitor::FAIL;
        EXPECT_FALSE(s.accept(r));
    }
    {
        Recorder r;
        r.root = Visitor::STOP;
        EXPECT_TRUE(s.accept(r));
        EXPECT_EQ(r.calls, (Calls{"preRoots", "root 0 -1"}));
    }
    {
        Recorder r;
        r.root = Visitor::FAIL;
        EXPECT_FALSE(s.accept(r));
        EXPECT_EQ(r.calls.size(), 2u);
    }
    {
        Recorder r;
        r.preExt = Visitor::STOP;
        EXPECT_TRUE(s.accept(r));
        EXPECT_EQ(r.calls.back(), "preExt");
        r.preExt = Visitor::FAIL;
        EXPECT_FALSE(s.accept(r));
    }
}

TEST(Visitor, DispatchOfEveryKind)
{
    static const TypeConstrainedOpenData::InfoType typedOpen = {&TypeConstrainedOpenData::create, 0,
                                                                &INTEGER::theInfo};
    static const IntegerWithNamedNumber::InfoType named = {
        &IntegerWithNamedNumber::create, 2, Unconstrained, 0, 4294967295u, nullptr, 0};
    static char const* const names[] = {"x"};
    static const ENUMERATED::InfoType enumInfo = {&ENUMERATED::create, 10, false, 0, names, 1};
    struct Case {
        void const* info;
        char const* entry;
    } const cases[] = {
        {&Null::theInfo, "null"},           {&BOOLEAN::theInfo, "boolean"},       {&INTEGER::theInfo, "integer"},
        {&named, "integer"},                {&enumInfo, "enumerated"},            {&OBJECT_IDENTIFIER::theInfo, "oid"},
        {&OCTET_STRING::theInfo, "octets"}, {&BIT_STRING::theInfo, "bits"},       {&IA5String::theInfo, "string"},
        {&BMPString::theInfo, "bmp"},       {&pickInfo, "choice"},                {&intsInfo, "list"},
        {&OpenData::theInfo, "open"},       {&typedOpen, "typed-open"},           {&GeneralizedTime::theInfo, "time"},
    };
    for (auto const& c : cases) {
        std::unique_ptr<AbstractData> v(AbstractData::create(c.info));
        Recorder r;
        EXPECT_TRUE(v->accept(r));
        EXPECT_EQ(r.calls, Calls{c.entry}) << c.entry;
        // a clone is dispatched the same way
        std::unique_ptr<AbstractData> copy(v->clone());
        Recorder r2;
        copy->accept(r2);
        EXPECT_EQ(r2.calls, Calls{c.entry}) << c.entry;

        // read-only: named numbers reach the INTEGER entry, a typed open
        // value the open entry
        ConstRecorder cr;
        EXPECT_TRUE(static_cast<AbstractData const&>(*v).accept(cr));
        std::string expect = c.entry == std::string("typed-open") ? "open" : c.entry;
        if (expect == "integer" || expect == "open")
            EXPECT_EQ(cr.calls, Calls{expect}) << c.entry;
        else
            EXPECT_TRUE(cr.calls.empty()) << c.entry;
    }
}

TEST(ConstVisitor, WalkOffersPresentFieldsOnly)
{
    SEQUENCE s(&extInfo);
    {
        ConstRecorder r;
        EXPECT_TRUE(static_cast<SEQUENCE const&>(s).accept(r));
        EXPECT_EQ(r.calls, Calls{"root 0"}); // no extension map: no preExt
    }
    s.includeOptionalField(OPT_O2, O2);
    s.includeOptionalField(OPT_X2, X2);
    s.removeOptionalField(OPT_X2); // map of 2 bits, none set
    {
        ConstRecorder r;
        EXPECT_TRUE(static_cast<SEQUENCE const&>(s).accept(r));
        EXPECT_EQ(r.calls, (Calls{"root 0", "root 2", "preExt"}));
    }
    s.includeOptionalField(OPT_X3, X3);
    s.includeOptionalField(OPT_X1, X1);
    {
        ConstRecorder r;
        EXPECT_TRUE(static_cast<SEQUENCE const&>(s).accept(r));
        EXPECT_EQ(r.calls, (Calls{"root 0", "root 2", "preExt", "known 3", "known 5"}));
    }
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
