// SEQUENCE presence maps, CHOICE selections, SEQUENCE OF and open values.
#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>

using namespace ASN1;
using namespace fixtures;

TEST(Sequence, OptionalAndExtensionPresence)
{
    SEQUENCE s(&extInfo);
    ASSERT_EQ(s.fieldCount(), 7u);
    ASSERT_NE(s.getField(M), nullptr); // a new value holds its mandatory fields only
    for (unsigned opt = 0; opt < 8; ++opt)
        EXPECT_FALSE(s.hasOptionalField(opt)) << opt;
    EXPECT_EQ(s.optionalMap().size(), 2u);
    EXPECT_EQ(s.extensionMap().size(), 0u);

    // extension addition 3 (optional index numOptional + 3, field numRootFields + 3)
    s.includeOptionalField(2 + 3, 3 + 3);
    EXPECT_EQ(s.extensionMap().size(), 4u);
    for (unsigned k = 0; k < 4; ++k)
        EXPECT_EQ(s.extensionMap()[k], k == 3) << k;
    for (unsigned i : {O1, O2, X1, X2, X3, X4})
        EXPECT_EQ(s.getField(i) != nullptr, i == X4) << i;

    integer(s.includeOptionalField(OPT_O2, O2)) = 7;
    EXPECT_TRUE(s.hasOptionalField(OPT_O2));
    AbstractData* old = s.getField(O2);
    s.removeOptionalField(OPT_O2);
    EXPECT_FALSE(s.hasOptionalField(OPT_O2));
    EXPECT_EQ(s.includeOptionalField(OPT_O2, O2), old);
    EXPECT_EQ(integer(old).getValue(), 7); // the old value comes back

    SEQUENCE before(s);
    s.removeOptionalField(40); // beyond both maps
    EXPECT_EQ(s.compare(before), 0);
    EXPECT_EQ(s.extensionMap().size(), 4u);

    // createField makes the object without touching presence
    AbstractData* x1 = s.createField(X1);
    EXPECT_NE(x1, nullptr);
    EXPECT_EQ(s.createField(X1), x1);
    EXPECT_FALSE(s.hasOptionalField(OPT_X1));
}

TEST(Sequence, BitMapLayout)
{
    SEQUENCE::BitMap m;
    m.resize(10);
    ASSERT_EQ(m.getData().size(), 2u);
    m.set(0);
    m.set(9);
    m.set(10); // beyond the count: ignored
    EXPECT_EQ(PerTest::toHex(m.getData()), "8040");
    // the octets as a writable range, as the decoders fill them
    auto& octets = m.getData();
    ASSERT_EQ(octets.end() - octets.begin(), 2);
    std::fill(octets.begin(), octets.end(), char(0xFF));
    EXPECT_TRUE(m[9]);
    octets[0] = char(0x80);
    octets[1] = 0x40;
    m.clear(0);
    EXPECT_FALSE(m[0]);
    // bits cut off by a shrink do not come back with a grow
    m.resize(9);
    m.resize(10);
    EXPECT_FALSE(m[9]);
    EXPECT_FALSE(m.any());
}

// The octet layout is the one the Erlang vectors' presence maps show.
TEST(Sequence, BitMapBeyondItsInlineOctets)
{
    SEQUENCE::BitMap m;
    m.resize(40);
    m.set(3);
    m.set(40);    // beyond the count: ignored
    m.resize(70); // past the octets the map holds itself
    ASSERT_EQ(m.getData().size(), 9u);
    EXPECT_FALSE(m[40]);
    for (unsigned i : {63u, 64u, 69u})
        m.set(i);
    EXPECT_TRUE(m[3]); // kept across the move to the heap
    EXPECT_EQ(static_cast<unsigned char>(m.getData()[7]), 0x01);
    EXPECT_EQ(static_cast<unsigned char>(m.getData()[8]), 0x84);

    SEQUENCE::BitMap copy(m), small;
    small.resize(2);
    small.set(1);
    copy.swap(small);
    EXPECT_EQ(small.size(), 70u);
    EXPECT_TRUE(small[69]);
    EXPECT_EQ(copy.size(), 2u);
    EXPECT_TRUE(copy[1]);
    copy = small;
    EXPECT_TRUE(copy[64]);

    m.resize(65);
    m.resize(120);
    EXPECT_TRUE(m[64]);
    EXPECT_FALSE(m[69]); // cut off by the shrink
    EXPECT_FALSE(m[119]);
    m.resize(0);
    m.resize(16);
    EXPECT_FALSE(m.any());

    // An extension map that grows far through the accessors.
    SEQUENCE s(&extInfo);
    s.includeOptionalField(2 + 100, X1);
    SEQUENCE t(s);
    EXPECT_EQ(t.extensionMap().size(), 101u);
    EXPECT_TRUE(t.hasOptionalField(2 + 100));
    EXPECT_FALSE(t.hasOptionalField(2 + 99));
}

TEST(Sequence, DefaultExtensionsAndTags)
{
    static unsigned char const defaults[] = {0x40 | 0x01}; // addition 1, and a bit past the count
    static void const* const fields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &Null::theInfo};
    static int const ids[] = {-1, 0, 0};
    static char const* const names[] = {"i", "b", "n"};
    static const SEQUENCE::InfoType withDefaults = {&SEQUENCE::create, 16, true, fields, ids, 1, 2, 0,
                                                    defaults, nullptr, names};
    SEQUENCE s(&withDefaults);
    EXPECT_EQ(s.extensionMap().size(), 2u);
    EXPECT_FALSE(s.hasOptionalField(0));
    EXPECT_TRUE(s.hasOptionalField(1));
    EXPECT_EQ(s.getField(1), nullptr);
    EXPECT_NE(s.getField(2), nullptr);
    EXPECT_EQ(s.tagMode(), 0);
    EXPECT_EQ(s.getFieldTag(2), 0x800002u); // automatic: context tag of the index

    static const SEQUENCE::InfoType ownTags = {&SEQUENCE::create, 16, false, fields, ids, 1, 2, 0,
                                               nullptr, &SEQUENCE::defaultTag, names};
    SEQUENCE o(&ownTags);
    EXPECT_EQ(o.tagMode(), 2);
    EXPECT_EQ(o.getFieldTag(0), 2u);
    EXPECT_EQ(o.getFieldTag(2), 5u);
}

namespace {
// INTEGER values whose creation fails once `createsLeft` reaches 0.
int createsLeft = -1;
AbstractData* failingCreate(void const* info)
{
    if (createsLeft == 0)
        throw std::bad_alloc();
    if (createsLeft > 0)
        --createsLeft;
    return new INTEGER(info);
}
const INTEGER::InfoType failingInt = {&failingCreate, 2, Unconstrained, 0, 4294967295u};
} // namespace

TEST(Sequence, CopyThatFailsPartWay)
{
    // Three fields live in the value itself, six in an array of their own.
    static void const* const fields[] = {&failingInt, &failingInt, &failingInt,
                                         &failingInt, &failingInt, &failingInt};
    static int const ids[] = {-1, -1, -1, -1, -1, -1};
    static char const* const names[] = {"a", "b", "c", "d", "e", "f"};
    for (unsigned count : {3u, 6u}) {
        SEQUENCE::InfoType const info = {&SEQUENCE::create, 16, false, fields, ids, count, 0, 0,
                                         nullptr,           nullptr, names};
        SEQUENCE s(&info), target(&info);
        for (unsigned k = 0; k < count; ++k)
            integer(s.getField(k)) = int(k + 1);
        createsLeft = 2; // the third clone fails
        EXPECT_THROW(SEQUENCE copy(s), std::bad_alloc) << count;
        createsLeft = 2;
        EXPECT_THROW(target = s, std::bad_alloc) << count;
        createsLeft = -1;
        for (unsigned k = 0; k < count; ++k) // unchanged (ASan checks the clones made are freed)
            EXPECT_EQ(integer(target.getField(k)).getValue(), 0) << count << " " << k;
        SEQUENCE copy(s);
        SEQUENCE other(&info);
        copy.swap(other);
        EXPECT_EQ(other.compare(s), 0) << count;
        EXPECT_EQ(integer(copy.getField(count - 1)).getValue(), 0) << count;
    }
}

TEST(Sequence, CompareCopyAndAssign)
{
    SEQUENCE a(&extInfo), b(&extInfo);
    EXPECT_EQ(a.compare(b), 0);
    boolean(a.includeOptionalField(OPT_O1, O1)) = true;
    EXPECT_EQ(a.compare(b), 1); // present against absent
    EXPECT_EQ(b.compare(a), -1);
    boolean(b.includeOptionalField(OPT_O1, O1)) = true;
    EXPECT_EQ(a.compare(b), 0);

    // differ in the first present extension, equal in a later one
    integer(a.includeOptionalField(OPT_X1, X1)) = 1;
    integer(b.includeOptionalField(OPT_X1, X1)) = 2;
    a.includeOptionalField(OPT_X4, X4);
    b.includeOptionalField(OPT_X4, X4);
    EXPECT_LT(a.compare(b), 0);
    // an absent field's stale object takes no part
    b.removeOptionalField(OPT_X1);
    a.removeOptionalField(OPT_X1);
    EXPECT_EQ(a.compare(b), 0);

    SEQUENCE c(a); // deep: no object shared
    for (unsigned i = 0; i < c.fieldCount(); ++i)
        EXPECT_TRUE(c.getField(i) == nullptr ? a.getField(i) == nullptr : c.getField(i) != a.getField(i)) << i;
    EXPECT_EQ(c.compare(a), 0);
    integer(c.getField(M)) = 99;
    EXPECT_EQ(integer(a.getField(M)).getValue(), 0);

    c = c; // self-assignment
    EXPECT_EQ(integer(c.getField(M)).getValue(), 99);
    a = c;
    EXPECT_EQ(integer(a.getField(M)).getValue(), 99);
    std::unique_ptr<AbstractData> clone(a.clone());
    EXPECT_EQ(clone->compare(a), 0);

    SEQUENCE d(&extInfo);
    d.swap(a);
    EXPECT_EQ(integer(d.getField(M)).getValue(), 99);
    EXPECT_EQ(integer(a.getField(M)).getValue(), 0);
}

// Alternatives are numbered from 0 in declaration order; -1 is none, -2 an
// alternative this version does not know.
TEST(Choice, SelectionNumbers)
{
    CHOICE c(&pickInfo);
    EXPECT_EQ(c.currentSelection(), -1);
    EXPECT_EQ(c.getSelection(), nullptr);

    ASSERT_TRUE(c.select(1));
    EXPECT_EQ(c.getSelectionTag(), 0x800001u);
    EXPECT_STREQ(c.getSelectionName(), "b");
    integer(c.getSelection()) = 12;
    AbstractData* v = c.getSelection();
    EXPECT_TRUE(c.select(1));
    EXPECT_EQ(c.getSelection(), v); // kept
    ASSERT_TRUE(c.select(4));
    EXPECT_NE(dynamic_cast<SEQUENCE*>(c.getSelection()), nullptr);

    for (int unknown : {5, -2, -7}) {
        EXPECT_FALSE(c.select(unknown));
        EXPECT_EQ(c.currentSelection(), -2);
        EXPECT_TRUE(c.isUnknownSelection());
        EXPECT_EQ(c.getSelection(), nullptr);
    }
    EXPECT_TRUE(c.select(2));
    EXPECT_EQ(c.currentSelection(), 2);
    AbstractData* n = new BOOLEAN(true);
    EXPECT_EQ(c.setSelection(3, n), n);
    EXPECT_EQ(c.getSelection(), n);
}

TEST(Choice, CompareAndCopy)
{
    CHOICE a(&pickInfo), b(&pickInfo);
    EXPECT_EQ(a.compare(b), 0); // both unselected
    a.select(1);
    b.select(4);
    EXPECT_EQ(a.compare(b), -3);
    b.select(1);
    integer(b.getSelection()) = 5;
    EXPECT_LT(a.compare(b), 0);

    CHOICE c(b);
    EXPECT_EQ(c.compare(b), 0);
    integer(c.getSelection()) = 6;
    EXPECT_EQ(integer(b.getSelection()).getValue(), 5);
    c = c;
    a = c;
    EXPECT_EQ(a.currentSelection(), 1);
    EXPECT_EQ(integer(a.getSelection()).getValue(), 6);
    a = CHOICE(&pickInfo);
    EXPECT_EQ(a.currentSelection(), -1);
    EXPECT_EQ(a.getSelection(), nullptr);
    c.swap(a);
    EXPECT_EQ(c.currentSelection(), -1);
    EXPECT_EQ(a.currentSelection(), 1);
}

TEST(SequenceOf, ResizeCompareAndCopies)
{
    SEQUENCE_OF_Base l(&intsInfo);
    l.resize(3);
    ASSERT_EQ(l.size(), 3u);
    integer(&l.at(0)) = 1;
    AbstractData* first = &l.at(0);
    l.resize(1);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(&l.at(0), first);

    EXPECT_EQ(ints({1, 2}).compare(ints({1, 2, 3})), -1);
    EXPECT_GT(ints({1, 5}).compare(ints({1, 2, 3})), 0);
    EXPECT_EQ(ints({}).compare(ints({})), 0);

    SEQUENCE_OF_Base src = ints({1, 2});
    SEQUENCE_OF_Base copy(src);
    integer(&copy.at(0)) = 9;
    EXPECT_EQ(integer(&src.at(0)).getValue(), 1);
    copy = src;
    EXPECT_EQ(copy.compare(src), 0);
    copy = copy;
    EXPECT_EQ(copy.size(), 2u);

    SEQUENCE_OF_Base all = ints({1, 2, 3});
    auto after = all.erase(all.begin(), all.end());
    EXPECT_EQ(after, all.end());
    EXPECT_TRUE(all.empty());

    SEQUENCE_OF_Base ins = ints({1, 4});
    ins.insert(ins.begin() + 1, 2, INTEGER(7));
    SEQUENCE_OF_Base more = ints({8, 9});
    ins.insert(ins.end(), more.begin(), more.end());
    EXPECT_EQ(ins.compare(ints({1, 7, 7, 4, 8, 9})), 0);
    createsLeft = 1; // the second clone fails: nothing is inserted
    EXPECT_THROW(ins.insert(ins.begin(), 3, INTEGER(5, &failingInt)), std::bad_alloc);
    createsLeft = -1;
    EXPECT_EQ(ins.compare(ints({1, 7, 7, 4, 8, 9})), 0);
    ins.erase(ins.begin());
    EXPECT_EQ(ins.compare(ints({7, 7, 4, 8, 9})), 0);

    // built element by element, as a decoder does; never a null element
    SEQUENCE_OF_Base built(&intsInfo);
    std::unique_ptr<AbstractData> e(built.createElement());
    integer(e.get()) = 3;
    built.push_back(e.release());
    built.push_back(nullptr);
    EXPECT_EQ(built.compare(ints({3})), 0);
}

TEST(SequenceOf, TypedViewCleanAndPushBack)
{
    using List = SEQUENCE_OF<INTEGER>;
    List l;
    EXPECT_EQ(SET_OF<BOOLEAN>().getTag(), 17u);
    EXPECT_EQ(l.getTag(), 16u); // universal SEQUENCE
    INTEGER x(4);
    l.push_back(x);
    x = 5;
    l.push_back(x);
    EXPECT_EQ(l[0].getValue(), 4); // a copy, not the argument
    int sum = 0;
    for (INTEGER const& i : static_cast<List const&>(l))
        sum += i.getValue();
    EXPECT_EQ(sum, 9);

    // clean leaves a fresh element behind, never a freed one
    l.clean(l.begin());
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].getValue(), 0);
    l[0] = 8;
    EXPECT_EQ(l.erase(l.begin())->getValue(), 5);
    EXPECT_EQ(l.size(), 1u);

    // a list made by the runtime is of the typed class
    std::unique_ptr<AbstractData> made(AbstractData::create(&List::theInfo));
    EXPECT_NE(dynamic_cast<List*>(made.get()), nullptr);
    std::unique_ptr<AbstractData> c(l.clone());
    EXPECT_NE(dynamic_cast<List*>(c.get()), nullptr);
    EXPECT_EQ(c->compare(l), 0);
}

TEST(OpenType, CompareAndCopy)
{
    auto octets = [](std::string const& s) { return new std::vector<char>(s.begin(), s.end()); };
    OpenData a, b;
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(a.compare(b), 0);
    a.grab(octets("ab"));
    b.grab(octets("abc"));
    EXPECT_EQ(a.compare(b), -1);
    a.grab(octets("ap"));
    b.grab(octets("ab"));
    EXPECT_EQ(a.compare(b), 14);

    OpenData empty, withData(new INTEGER(3), &OpenData::theInfo);
    EXPECT_EQ(a.compare(empty), -1); // octets only before empty
    EXPECT_EQ(empty.compare(a), -1);
    EXPECT_EQ(withData.compare(a), 1);
    EXPECT_LT(withData.compare(OpenData(new INTEGER(4), &OpenData::theInfo)), 0);

    OpenData both(a);
    both.set_data(new INTEGER(1));
    OpenData copy(both);
    EXPECT_TRUE(copy.has_buf() && copy.has_data());
    EXPECT_NE(&copy.get_buf(), &both.get_buf());
    EXPECT_NE(&copy.get_data(), &both.get_data());
    EXPECT_EQ(copy.compare(both), 0);
    copy = empty;
    EXPECT_TRUE(copy.isEmpty());

    // a type-constrained open value holds its content from the start
    static const TypeConstrainedOpenData::InfoType info = {&TypeConstrainedOpenData::create, 0, &pickInfo};
    std::unique_ptr<AbstractData> v(AbstractData::create(&info));
    auto& t = dynamic_cast<TypeConstrainedOpenData&>(*v);
    ASSERT_TRUE(t.has_data());
    dynamic_cast<CHOICE&>(t.get_data()).select(0);
    std::unique_ptr<AbstractData> c(v->clone());
    EXPECT_EQ(c->compare(*v), 0);
    EXPECT_NE(&dynamic_cast<OpenData&>(*c).get_data(), &t.get_data());
}
