// Classes the generator made from its test module (gen_test.asn): tables,
// accessors, numbering and names, copies, and a round trip through the codec.
#include <gtest/gtest.h>

#include <sstream>
#include <type_traits>
#include <typeinfo>

#include "codec.h"
#include "gentest.h"

namespace {

using namespace GenTest;

static_assert(std::is_same_v<Alias, GenTest_Base::Pair>);
static_assert(std::is_same_v<Counter, ASN1::INTEGER>);
static_assert(std::is_same_v<GenTest_Base::Small, ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 7>>);
static_assert(std::is_base_of_v<ASN1::SEQUENCE_OF<GenTest_Base::Pair>, Record_pairs>);
static_assert(std::is_base_of_v<ASN1::IA5String, Record_labels_subtype>);

Record fullRecord()
{
    Record r;
    r.set_id(4294967295u);
    r.set_delta(-1);
    r.set_flag(true);
    r.set_name("abcdefgh");
    r.set_data({'\0', '\xff'});
    r.set_none();
    r.set_kind(Sparse::asInt_);
    r.set_small(7);
    GenTest_Base::Pair p;
    p.set_a(-128);
    p.set_b(true);
    r.get_pairs().push_back(p);
    r.set_labels().push_back(Record_labels_subtype("xy"));
    Record_nested_inner_list_subtype item;
    item.set_x(Dense::two);
    item.get_y().set_a(127);
    r.get_nested().get_inner().select_list().push_back(item);
    r.get_nested().set_e(Record_nested_e::on);
    r.set_added_one(-7);
    r.set_added_two();
    return r;
}

TEST(GeneratedClasses, OptionalFieldsAndExtensionAdditions)
{
    Record r;
    EXPECT_FALSE(r.delta_isPresent());
    EXPECT_FALSE(r.added_one_isPresent());
    r.set_delta(-1);
    EXPECT_TRUE(r.delta_isPresent());
    EXPECT_EQ(r.get_delta().INTEGER::getValue(), -1);
    r.omit_delta();
    EXPECT_FALSE(r.delta_isPresent());

    // addition k has optional index numOptional + k
    r.set_added_two();
    EXPECT_TRUE(r.hasOptionalField(5));
    EXPECT_FALSE(r.added_one_isPresent());
    r.set_added_one(3);
    EXPECT_TRUE(r.hasOptionalField(4));
    EXPECT_EQ(r.get_added_one().getValue(), 3);
    EXPECT_EQ(typeid(r.get_added_two()), typeid(Empty));

    // a field left out is not read by mistake
    EXPECT_DEATH(r.get_name(), "GenTest::Record::get_name");
}

TEST(GeneratedClasses, ChoiceAlternativesAndConstructors)
{
    EXPECT_EQ(Tree::theInfo.numChoices, 5u);
    EXPECT_EQ(Tree::theInfo.totalChoices, 6u);
    EXPECT_EQ(Tree::late_leaf_chosen, 5);
    EXPECT_STREQ(Tree::theInfo.selectionNames[5], "late-leaf");

    Tree empty;
    EXPECT_EQ(empty.currentSelection(), -1);
    EXPECT_DEATH(empty.get_leaf(), "GenTest::Tree::get_leaf");

    Tree other(Tree::other_chosen, ASN1::INTEGER(9));
    EXPECT_TRUE(other.other_isSelected());
    EXPECT_EQ(other.get_other().getValue(), 9);
    GenTest_Base::Pair p;
    p.set_a(1);
    Tree pairB(Tree::pair_b_chosen, p);
    EXPECT_EQ(pairB.currentSelection(), Tree::pair_b_chosen);
    EXPECT_EQ(pairB.get_pair_b().get_a().INTEGER::getValue(), 1);
    Tree late(Tree::late_leaf_chosen);
    EXPECT_TRUE(late.late_leaf_isSelected());
    // an alternative of another type
    EXPECT_DEATH((void)Tree(Tree::leaf_chosen, p), "GenTest::Tree");

    Tree root;
    root.select_branch().push_back(other);
    root.get_branch().push_back(Tree(Tree::branch_chosen, Tree_branch()));
    root.get_branch()[1].get_branch().push_back(pairB);
    EXPECT_EQ(root.get_branch()[1].get_branch()[0].currentSelection(), Tree::pair_b_chosen);
    root.select_leaf(-3);
    EXPECT_EQ(root.get_leaf().getValue(), -3);
}

TEST(GeneratedClasses, CopiesAreDeepAndKeepTheirClass)
{
    Record a = fullRecord();
    Record b = a;
    EXPECT_TRUE(a == b);
    b.get_pairs()[0].set_b(false);
    b.get_nested().get_inner().get_list()[0].set_x(Dense::zero);
    EXPECT_TRUE(a.get_pairs()[0].get_b());
    EXPECT_EQ(a.get_nested().get_inner().get_list()[0].get_x().asNamedNumber(), Dense::two);
    EXPECT_FALSE(a == b);

    std::unique_ptr<ASN1::AbstractData> c(a.clone());
    EXPECT_EQ(typeid(*c), typeid(Record));
    EXPECT_TRUE(*c == a);
}

TEST(GeneratedClasses, ValuesTravelThroughTheCodec)
{
    Record r = fullRecord();
    std::vector<char> octets = protocol_test::encode(r);
    ASSERT_FALSE(octets.empty());
    auto back = protocol_test::decode(&Record::theInfo, octets);
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == r) << *back;
    auto const& d = static_cast<Record const&>(*back);
    EXPECT_EQ(d.get_id().getValue(), 4294967295u);
    EXPECT_EQ(d.get_kind().asNamedNumber(), Sparse::asInt_);
    EXPECT_TRUE(d.added_two_isPresent());

    // names of the printed value are those of the text
    std::ostringstream text;
    text << r;
    EXPECT_NE(text.str().find("added-one -7"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("kind asInt"), std::string::npos) << text.str();

    // a size bound of the text is enforced
    r.get_pairs().push_back(r.get_pairs()[0]);
    r.get_pairs().push_back(r.get_pairs()[0]);
    r.get_pairs().push_back(r.get_pairs()[0]);
    EXPECT_TRUE(protocol_test::encode(r).empty());
}

} // namespace
