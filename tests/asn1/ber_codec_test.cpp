// BER encoder and decoder: the octets of the edge values, and every kind of
// malformed input the decoder must refuse.
#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "tests/asn1/helpers.h"

namespace {

using namespace ASN1;
using namespace asn1_test;

// The edges the Erlang vectors do not reach (they hold the plain number,
// length and bit string edges).
TEST(BerEncoder, EdgesBeyondTheVectors)
{
    EXPECT_EQ(encoded("Bits", "b101", BER), "030205a0");
    BIT_STRING bits; // bits past the count that a value happens to hold go out as zeros
    bits.resize(3);
    bits.getData()[0] = char(0xFF);
    EXPECT_EQ(encoded(bits, BER), "030205e0");
    EXPECT_EQ(getIntegerDataLength(0x7FFFFF), 3u);
    EXPECT_EQ(getIntegerDataLength(-0x800001), 4u);
    // the number an unsigned range holds, not the negative int it is stored in
    EXPECT_EQ(encoded("Word", "2147483648", BER), "02050080000000");
    EXPECT_FALSE(decodes("Word", "0201ff", BER));
    EXPECT_FALSE(decodes("Word", "020601ffffffffff", BER));

    INTEGER::InfoType const tag31 = {&INTEGER::create, ContextSpecificTag + 31, Unconstrained, 0, 4294967295u};
    INTEGER::InfoType const tag128 = {&INTEGER::create, ContextSpecificTag + 128, Unconstrained, 0, 4294967295u};
    EXPECT_EQ(encoded(INTEGER(5, &tag31), BER), "9f1f0105");
    EXPECT_EQ(encoded(INTEGER(5, &tag128), BER), "9f81000105");
    EXPECT_EQ(getObjectLength(INTEGER(5, &tag128), ContextSpecificTag + 128), 5u);

    // A CHOICE field is wrapped in the field's constructed tag around the
    // alternative, which carries its own; a SEQUENCE field only takes the
    // field's tag in place of its own.
    EXPECT_EQ(encoded("Holder", "{x0401aa,T}", BER), "3008a0030401aa8101ff");
    EXPECT_EQ(encoded("Rec", "{1,_,0:2,1:s78,[],_,_,_}", BER), "300d020101" "020102" "a103160178" "3100");
    EXPECT_EQ(encoded("Grown", "{5,_,_,{T,_,_,2}}", BER), "300b800105a3068001ff830102");
}

// A length is one octet up to 127, then a count of the octets that hold
// it; a tag number is in the identifier octet up to 30, then in base 128.
TEST(BerLimits, LengthAndTagForms)
{
    struct Case {
        unsigned size;
        char const* head;
    } const lengths[] = {{0, "0400"},       {127, "047f"},       {128, "048180"},        {255, "0481ff"},
                         {256, "04820100"}, {300, "0482012c"}, {65535, "0482ffff"}, {65536, "0483010000"}};
    for (auto const& l : lengths) {
        std::string const contents(2 * l.size, '5');
        std::string const hex = encoded("Octets", "x" + contents, BER);
        EXPECT_EQ(hex.substr(0, std::string(l.head).size()), l.head) << l.size;
        EXPECT_EQ(hex.size(), std::string(l.head).size() + contents.size()) << l.size;
        EXPECT_TRUE(decodesTo("Octets", l.head + contents, "x" + contents, BER)) << l.size;
    }
    // a long form with more octets than it needs
    EXPECT_TRUE(decodesTo("Octets", "0482000155", "x55", BER));

    struct Tag {
        unsigned number;
        char const* head;
    } const tags[] = {{30, "9e"},         {31, "9f1f"},         {127, "9f7f"},          {128, "9f8100"},
                      {16383, "9fff7f"}, {16384, "9f818000"}, {65535, "9f83ff7f"}};
    for (auto const& t : tags) {
        INTEGER::InfoType const info = {&INTEGER::create, ContextSpecificTag + t.number, Unconstrained, 0,
                                        4294967295u};
        INTEGER v(-1, &info);
        EXPECT_EQ(encoded(v, BER), std::string(t.head) + "01ff") << t.number;
        EXPECT_EQ(getObjectLength(v, ContextSpecificTag + t.number), std::string(t.head).size() / 2 + 2)
            << t.number;
        INTEGER back(0, &info);
        EXPECT_TRUE(decodeInto(back, std::string(t.head) + "01ff", BER)) << t.number;
        EXPECT_EQ(back.getValue(), -1);
    }
}

TEST(BerEncoder, ValuesThatCannotBeSentFailAndWriteNothing)
{
    EXPECT_EQ(encoded(*BerTest::make("Pick"), BER), "failed");   // nothing selected
    EXPECT_EQ(encoded(*BerTest::make("Holder"), BER), "failed"); // an open value holding nothing
    EXPECT_EQ(encoded(BMPString(L"a\U00010000"), BER), "failed");
    EXPECT_EQ(encoded("Oid", "o1", BER), "failed");    // one arc has no encoding
    EXPECT_EQ(encoded("Oid", "o1.40", BER), "failed"); // would read back as 2.0
    EXPECT_EQ(encoded("Oid", "o2.40", BER), "060178");
}

TEST(BerDecoder, PrimitiveContents)
{
    EXPECT_TRUE(decodesTo("Flag", "01020001", "T", BER)); // lenient beyond X.690: the last octet decides
    EXPECT_TRUE(decodesTo("Flag", "010100", "F", BER));
    EXPECT_TRUE(decodesTo("Bits", "030205a7", "b101", BER)); // unused bits dropped
    EXPECT_TRUE(decodesTo("Wide16", "1e0400410100", "w00410100", BER));
    EXPECT_TRUE(decodesTo("Wide16", "1e06000000410000", "w000000410000", BER));
    // enumerated values are signed like integers
    EXPECT_TRUE(decodesTo("Signed", "0a01ff", "-1", BER));
    EXPECT_TRUE(decodesTo("Colour", "0a0200ff", "255", BER));
    EXPECT_TRUE(decodesTo("Colour", "0a03000004", "4", BER));
    // the first subidentifier splits at 80, and for 2.4294967295 needs more
    // than 32 bits
    EXPECT_TRUE(decodesTo("Oid", "060150", "o2.0", BER));
    EXPECT_TRUE(decodesTo("Oid", "060178", "o2.40", BER));
    EXPECT_EQ(encoded("Oid", "o2.4294967295", BER), "0605908080804f");
    EXPECT_TRUE(decodesTo("Oid", "0605908080804f", "o2.4294967295", BER));
}

TEST(BerDecoder, MalformedPrimitivesFail)
{
    // a lone initial octet with unused bits would count 2^32 - n bits
    EXPECT_FALSE(decodes("Bits", "030105", BER));
    EXPECT_FALSE(decodes("Bits", "030208ff", BER));
    EXPECT_FALSE(decodes("Bits", "0300", BER));
    EXPECT_FALSE(decodes("Flag", "0100", BER));
    EXPECT_FALSE(decodes("Plain", "0200", BER));
    // more than the 32 bits the value holds
    EXPECT_FALSE(decodes("Plain", "02050100000000", BER));
    EXPECT_FALSE(decodes("Plain", "02050080000000", BER));
    EXPECT_FALSE(decodes("Plain", "0209000000000000000001", BER));
    EXPECT_FALSE(decodes("Colour", "0a050100000000", BER));
    EXPECT_FALSE(decodes("Wide16", "1e03004100", BER));
    EXPECT_FALSE(decodes("Oid", "0600", BER));
    EXPECT_FALSE(decodes("Oid", "060288", BER));
    // subidentifiers too large for an arc fail instead of wrapping
    EXPECT_FALSE(decodes("Oid", "06062a9080808000", BER)); // 1.2.2^32
    EXPECT_FALSE(decodes("Oid", "060c2affffffffffffffffffff7f", BER));
    // wrong tag, wrong form
    EXPECT_FALSE(decodes("Plain", "0101ff", BER));
    EXPECT_FALSE(decodes("Octets", "2403040100", BER));
    EXPECT_FALSE(decodes("Pair", "10020101", BER));
}

TEST(BerDecoder, HeadersOutOfRangeFail)
{
    EXPECT_TRUE(decodesTo("Octets", "048102aabb", "xaabb", BER));
    EXPECT_TRUE(decodesTo("Octets", "04840000000100", "x00", BER));
    EXPECT_TRUE(decodesTo("Octets", "048500000000017f", "x7f", BER)); // long forms need not be short
    EXPECT_TRUE(decodesTo("Octets", "048100", "x", BER));
    EXPECT_FALSE(decodes("Octets", "0485010000000000", BER)); // 40-bit length
    EXPECT_FALSE(decodes("Octets", "0484ffffffff00", BER));
    EXPECT_FALSE(decodes("Octets", "04ff", BER));
    EXPECT_FALSE(decodes("Octets", "0480aabb0000", BER)); // indefinite length
    EXPECT_FALSE(decodes("Pair", "30800101ff0a01000000", BER));
    // tag numbers beyond 32 bits, or cut
    EXPECT_FALSE(decodes("Octets", "1f908080808000", BER));
    EXPECT_FALSE(decodes("Octets", "1f8080", BER));
    EXPECT_FALSE(decodes("BigTag", "9f8148", BER));
    EXPECT_TRUE(decodesTo("BigTag", "9f814800", "x", BER));
}

TEST(BerDecoder, SequenceFieldsAndEnds)
{
    EXPECT_TRUE(decodesTo("Pair", "30068001ff830100", "{T,_,_,0}", BER));
    // the mandatory flag is missing; the SEQUENCE's own length ends it,
    // however many octets follow
    EXPECT_FALSE(decodes("Pair", "3003830100", BER));
    EXPECT_FALSE(decodes("Pair", "30038001ff" "830100", BER));
    // the SEQUENCE's end lies past the input; a field runs past the SEQUENCE
    EXPECT_FALSE(decodes("Pair", "30078001ff830100", BER));
    EXPECT_FALSE(decodes("Pair", "30058001ff830100", BER));
    EXPECT_FALSE(decodes("Pair", "30068001ff830200", BER));
    // fields out of order, or an unknown one in a type without extensions
    EXPECT_FALSE(decodes("Pair", "3006830100" "8001ff", BER));
    EXPECT_FALSE(decodes("Pair", "30098001ff8301008401aa", BER));
    // an empty SEQUENCE at the very end of the input
    EXPECT_TRUE(decodesTo("Empty", "3000", "{_,_}", BER));
    EXPECT_TRUE(decodesTo("Names", "3000", "[]", BER));
    // additions that our version of Grown does not know are skipped; a known
    // one that does not decode fails the value
    EXPECT_TRUE(decodesTo("Grown", "300c800105820107" "8402aabb" "8500", "{5,_,7,_}", BER));
    EXPECT_FALSE(decodes("Grown", "3005800105" "8200", BER));
    // decoded again, a value keeps nothing of what it held: absent fields
    // become absent
    auto value = decoded("Pair", "300a8001ff8102000a830101", BER);
    ASSERT_TRUE(value);
    EXPECT_TRUE(*value == *built("Pair", "{T,10,_,1}"));
    ASSERT_TRUE(decodeInto(*value, "30068001ff830102", BER));
    EXPECT_TRUE(*value == *built("Pair", "{T,_,_,2}"));
}

TEST(BerDecoder, ChoiceAlternativesByTag)
{
    EXPECT_TRUE(decodesTo("Alt", "8301ff", "2:T", BER));
    EXPECT_TRUE(decodesTo("Nested", "1600", "0:1:s", BER));
    EXPECT_TRUE(decodesTo("Nested", "850107", "1:7", BER));
    EXPECT_FALSE(decodes("Alt", "0401aa", BER));      // no alternative has the tag
    EXPECT_FALSE(decodes("Pick", "830100", BER));     // [3] of three alternatives
    EXPECT_TRUE(decodesTo("Pick", "800105", "0:5", BER));
    EXPECT_FALSE(decodes("Pick", "8000", BER));       // the alternative's number has no octets
    EXPECT_FALSE(decodes("Nested", "840107", BER));
    EXPECT_FALSE(decodes("Pick", "830105", BER));
    EXPECT_FALSE(decodes("Tagged", "62038001f9", BER)); // the CHOICE's own tag is wrong
    EXPECT_FALSE(decodes("Tagged", "61048001f900", BER)); // more than the alternative inside
    EXPECT_FALSE(decodes("Tagged", "41038001f9", BER));   // primitive wrapper
    // An extensible CHOICE skips an alternative added after our version.
    auto value = decoded("PickExt", "8702aabb", BER);
    ASSERT_TRUE(value);
    EXPECT_TRUE(static_cast<CHOICE&>(*value).isUnknownSelection());
    EXPECT_EQ(encoded(*value, BER), "failed");
    // decoded again into the same value, nothing of the old selection stays
    auto reused = built("PickExt", "0:5");
    std::vector<char> const longTag = PerTest::fromHex("9f8480800000");
    BERDecoder decoder(longTag.data(), longTag.data() + longTag.size(), nullptr);
    ASSERT_TRUE(reused->accept(decoder));
    EXPECT_TRUE(static_cast<CHOICE&>(*reused).isUnknownSelection());
    // an untagged optional CHOICE is present only when one of its
    // alternatives has the tag
    EXPECT_TRUE(decodesTo("Loose", "3003160161", "{_,1:s61}", BER));
    EXPECT_TRUE(decodesTo("Loose", "3003800101", "{1,_}", BER));
    EXPECT_TRUE(decodesTo("Loose", "3003040161", "{_,_}", BER)); // skipped as an unknown addition
}

TEST(BerDecoder, ListsAndOpenValues)
{
    EXPECT_TRUE(decodesTo("SetOfInt", "3106020101020102", "[1,2]", BER));
    EXPECT_FALSE(decodes("SetOfInt", "3006020101020102", BER));
    EXPECT_FALSE(decodes("SetOfInt", "3105020101020102", BER)); // an element runs past the list
    EXPECT_FALSE(decodes("SetOfInt", "31050201010101", BER));
    // an untagged open value takes one whole element; EOC octets are none
    auto list = decoded("Anys", "30070400" "0403aabbcc", BER);
    ASSERT_TRUE(list);
    EXPECT_TRUE(*list == *built("Anys", "[x0400,x0403aabbcc]"));
    EXPECT_EQ(encoded(*list, BER), "30070400" "0403aabbcc");
    EXPECT_FALSE(decodes("Anys", "30020000", BER));
    EXPECT_FALSE(decodes("Anys", "30020480", BER)); // indefinite length
    EXPECT_FALSE(decodes("Anys", "300204ff", BER)); // reserved length octet
    EXPECT_FALSE(decodes("Anys", "3004" "0000" "0000", BER));
    // a tagged open value holds exactly one complete element
    EXPECT_FALSE(decodes("Holder", "3005a0008101ff", BER));
    EXPECT_FALSE(decodes("Holder", "3009a0040401aa008101ff", BER));
    EXPECT_FALSE(decodes("Holder", "3007a0020401" "8101ff", BER));
    // octets after the value are not part of it
    EXPECT_TRUE(decodesTo("Holder", "3008a0038101ff8101ff" "00", "{x8101ff,T}", BER));
    // a length of 4 GB is refused before any storage is sized for it
    EXPECT_FALSE(decodes("Holder", "300aa084fffffff00401aa", BER));
    EXPECT_FALSE(decodes("Anys", "30060484fffffff0", BER));
    // a type-constrained open value decodes its contents in place
    auto envelope = decoded("Envelope", "3008800101a103020105", BER);
    ASSERT_TRUE(envelope);
    EXPECT_EQ(encoded(*envelope, BER), "3008800101a103020105");
    EXPECT_FALSE(decodes("Envelope", "3009800101a10402010500", BER));
    EXPECT_FALSE(decodes("Envelope", "3008800101a103010105", BER));
    EXPECT_FALSE(decodes("Envelope", "3007800101a1020200", BER)); // a number of no octets
}

// A kept open value's octets decode into a value later, from the buffer.
TEST(BerDecoder, RevisitDecodesTheKeptOctets)
{
    struct Revisit : BERDecoder {
        using BERDecoder::BERDecoder;
        bool again(OpenData& v) { return revisit(v); }
    };
    std::vector<char> const octets = PerTest::fromHex("0201fb");
    OpenData open;
    Revisit decoder(octets.data(), octets.data() + octets.size(), nullptr);
    ASSERT_TRUE(open.accept(decoder));
    EXPECT_FALSE(decoder.again(open)); // no value to decode into yet
    open.set_data(new INTEGER);
    ASSERT_TRUE(decoder.again(open));
    EXPECT_EQ(static_cast<INTEGER&>(open.get_data()).getValue(), -5);
    open.get_buf().push_back(0);
    EXPECT_FALSE(decoder.again(open)); // octets left over
}

} // namespace
