// BER encoder and decoder: the octets of the edge values, and every kind of
// malformed input the decoder must refuse.
#include <iterator>

#include <gtest/gtest.h>

#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "asn1/coder_env.h"
#include "tests/asn1/ber_test_types.h"
#include "tests/asn1/per_value_text.h"

namespace {

using namespace ASN1;

std::string encoded(AbstractData const& value)
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::ber);
    std::vector<char> out{'x'};
    if (!encode(value, &env, std::back_inserter(out)))
        return out.size() == 1 ? "failed" : "failed, but wrote octets";
    return PerTest::toHex(std::vector<char>(out.begin() + 1, out.end()));
}

std::string encoded(std::string const& type, std::string const& text)
{
    auto value = BerTest::make(type);
    EXPECT_TRUE(PerTest::build(*value, text)) << type << " " << text;
    return encoded(*value);
}

// Decodes hex into a fresh value of the type, from a buffer of exactly that
// size; the value as the vectors' text describes it, or "failed".
std::unique_ptr<AbstractData> decoded(std::string const& type, std::string const& hex)
{
    std::vector<char> const octets = PerTest::fromHex(hex);
    std::unique_ptr<char[]> exact(new char[octets.size() + 1]);
    std::copy(octets.begin(), octets.end(), exact.get());
    CoderEnv env;
    env.set_encodingRule(CoderEnv::ber);
    auto value = BerTest::make(type);
    if (!decode(exact.get(), exact.get() + octets.size(), &env, *value, true))
        return nullptr;
    return value;
}

bool decodes(std::string const& type, std::string const& hex) { return decoded(type, hex) != nullptr; }

// The value the text describes, for comparing.
std::unique_ptr<AbstractData> built(std::string const& type, std::string const& text)
{
    auto value = BerTest::make(type);
    EXPECT_TRUE(PerTest::build(*value, text)) << type << " " << text;
    return value;
}

bool decodesTo(std::string const& type, std::string const& hex, std::string const& text)
{
    auto value = decoded(type, hex);
    return value && *value == *built(type, text);
}

TEST(BerEncoder, IntegerBooleanAndBitStringOctets)
{
    EXPECT_EQ(encoded("Plain", "0"), "020100");
    EXPECT_EQ(encoded("Plain", "127"), "02017f");
    EXPECT_EQ(encoded("Plain", "128"), "02020080");
    EXPECT_EQ(encoded("Plain", "-128"), "020180");
    EXPECT_EQ(encoded("Plain", "-129"), "0202ff7f");
    EXPECT_EQ(encoded("Flag", "T"), "0101ff");
    EXPECT_EQ(encoded("Bits", "b"), "030100");
    EXPECT_EQ(encoded("Bits", "b1010101011110000"), "030300aaf0");
    EXPECT_EQ(encoded("Bits", "b101"), "030205a0");
    EXPECT_EQ(getIntegerDataLength(0x7FFFFF), 3u);
    EXPECT_EQ(getIntegerDataLength(-0x800001), 4u);
}

// Bits past the count that a value happens to hold go out as zeros.
TEST(BerEncoder, UnusedBitsAreSentAsZeros)
{
    BIT_STRING bits;
    bits.resize(3);
    bits.getData()[0] = char(0xFF);
    EXPECT_EQ(encoded(bits), "030205e0");
}

TEST(BerEncoder, LongLengthsAndTagNumbers)
{
    EXPECT_EQ(encoded("Octets", "x" + std::string(400, 'a')).substr(0, 6), "0481c8");
    EXPECT_EQ(encoded("Octets", "x" + std::string(512, 'b')).substr(0, 8), "04820100");
    INTEGER::InfoType const tag31 = {&INTEGER::create, ContextSpecificTag + 31, Unconstrained, 0, 4294967295u};
    INTEGER::InfoType const tag128 = {&INTEGER::create, ContextSpecificTag + 128, Unconstrained, 0, 4294967295u};
    EXPECT_EQ(encoded(INTEGER(5, &tag31)), "9f1f0105");
    EXPECT_EQ(encoded(INTEGER(5, &tag128)), "9f81000105");
    EXPECT_EQ(getObjectLength(INTEGER(5, &tag128), ContextSpecificTag + 128), 5u);
}

// A CHOICE field is wrapped in the field's constructed tag around the
// alternative, which carries its own.
TEST(BerEncoder, ChoiceFieldIsTaggedExplicitly)
{
    EXPECT_EQ(encoded("Holder", "{x0401aa,T}"), "3008a0030401aa8101ff");
    EXPECT_EQ(encoded("Rec", "{1,_,0:2,1:s78,[],_,_,_}"), "300d020101" "020102" "a103160178" "3100");
    // a SEQUENCE field only takes the field's tag in place of its own
    EXPECT_EQ(encoded("Grown", "{5,_,_,{T,_,_,2}}"), "300b800105a3068001ff830102");
}

// The number an unsigned range holds is sent as that number, not as the
// negative int it is stored in.
TEST(BerEncoder, UnsignedRangeKeepsItsNumber)
{
    EXPECT_EQ(encoded("Word", "4294967295"), "020500ffffffff");
    EXPECT_EQ(encoded("Word", "2147483648"), "02050080000000");
    EXPECT_EQ(encoded("ExtInt", "-1"), "0201ff"); // an extension value may be negative
    EXPECT_TRUE(decodesTo("Word", "020500ffffffff", "4294967295"));
    EXPECT_FALSE(decodes("Word", "0201ff"));
    EXPECT_FALSE(decodes("Word", "020601ffffffffff"));
    EXPECT_TRUE(decodesTo("ExtInt", "0201ff", "-1"));
}

TEST(BerEncoder, ValuesThatCannotBeSentFailAndWriteNothing)
{
    EXPECT_EQ(encoded(*BerTest::make("Pick")), "failed"); // nothing selected
    auto deep = BerTest::make("Holder");
    EXPECT_EQ(encoded(*deep), "failed"); // an open value holding nothing
    BMPString wide(L"a\U00010000");
    EXPECT_EQ(encoded(wide), "failed");
    EXPECT_EQ(encoded(BMPString(L"a\uffff")), "1e040061ffff");
    OBJECT_IDENTIFIER oid;
    oid.append(1);
    EXPECT_EQ(encoded(oid), "failed"); // one arc has no encoding
    oid.append(40);
    EXPECT_EQ(encoded(oid), "failed"); // would read back as 2.0
    OBJECT_IDENTIFIER fine;
    fine.append(2);
    fine.append(40);
    EXPECT_EQ(encoded(fine), "060178");
}

TEST(BerDecoder, PrimitiveContents)
{
    EXPECT_TRUE(decodesTo("Plain", "0201ff", "-1"));
    EXPECT_TRUE(decodesTo("Plain", "020480000000", "-2147483648"));
    EXPECT_TRUE(decodesTo("Flag", "01020001", "T")); // lenient beyond X.690: the last octet decides
    EXPECT_TRUE(decodesTo("Flag", "010100", "F"));
    EXPECT_TRUE(decodesTo("Bits", "030205a7", "b101")); // unused bits dropped
    EXPECT_TRUE(decodesTo("Octets", "0400", "x"));
    EXPECT_TRUE(decodesTo("Nothing", "0500", "N"));
    EXPECT_TRUE(decodesTo("Wide16", "1e0400410100", "w00410100"));
    EXPECT_TRUE(decodesTo("Text", "1600", "s"));
    // enumerated values are signed like integers
    EXPECT_TRUE(decodesTo("Signed", "0a01ff", "-1"));
    EXPECT_TRUE(decodesTo("Colour", "0a0200ff", "255"));
    EXPECT_TRUE(decodesTo("Colour", "0a03000004", "4"));
}

TEST(BerDecoder, MalformedPrimitivesFail)
{
    // a lone initial octet with unused bits would count 2^32 - n bits
    EXPECT_FALSE(decodes("Bits", "030105"));
    EXPECT_FALSE(decodes("Bits", "030208ff"));
    EXPECT_FALSE(decodes("Bits", "0300"));
    EXPECT_FALSE(decodes("Flag", "0100"));
    EXPECT_FALSE(decodes("Plain", "0200"));
    // more than the 32 bits the value holds
    EXPECT_FALSE(decodes("Plain", "02050100000000"));
    EXPECT_FALSE(decodes("Plain", "02050080000000"));
    EXPECT_FALSE(decodes("Plain", "0209000000000000000001"));
    EXPECT_FALSE(decodes("Colour", "0a050100000000"));
    EXPECT_FALSE(decodes("Wide16", "1e03004100"));
    EXPECT_FALSE(decodes("Oid", "0600"));
    EXPECT_FALSE(decodes("Oid", "060288"));
    // wrong tag, wrong form
    EXPECT_FALSE(decodes("Plain", "0101ff"));
    EXPECT_FALSE(decodes("Octets", "2403040100"));
    EXPECT_FALSE(decodes("Pair", "10020101"));
}

TEST(BerDecoder, HeadersOutOfRangeFail)
{
    EXPECT_TRUE(decodesTo("Octets", "0402aabb", "xaabb"));
    EXPECT_FALSE(decodes("Octets", "0403aabb")); // runs past the input
    EXPECT_TRUE(decodesTo("Octets", "048102aabb", "xaabb"));
    EXPECT_TRUE(decodesTo("Octets", "04840000000100", "x00"));
    EXPECT_TRUE(decodesTo("Octets", "048500000000017f", "x7f")); // long forms need not be short
    EXPECT_TRUE(decodesTo("Octets", "048100", "x"));
    EXPECT_FALSE(decodes("Octets", "0485010000000000")); // 40-bit length
    EXPECT_FALSE(decodes("Octets", "0484ffffffff00"));
    EXPECT_FALSE(decodes("Octets", "04ff"));
    EXPECT_FALSE(decodes("Octets", "0480aabb0000")); // indefinite length
    EXPECT_FALSE(decodes("Pair", "30800101ff0a01000000"));
    // tag numbers beyond 32 bits, or cut
    EXPECT_FALSE(decodes("Octets", "1f908080808000"));
    EXPECT_FALSE(decodes("Octets", "1f8080"));
    EXPECT_FALSE(decodes("BigTag", "9f8148"));
    EXPECT_TRUE(decodesTo("BigTag", "9f814800", "x"));
}

TEST(BerDecoder, SequenceFieldsAndEnds)
{
    EXPECT_TRUE(decodesTo("Pair", "30068001ff830100", "{T,_,_,0}"));
    // the mandatory flag is missing
    EXPECT_FALSE(decodes("Pair", "3003830100"));
    EXPECT_FALSE(decodes("Pair", "30038001ff"));
    // the SEQUENCE's end lies past the input; a field runs past the SEQUENCE
    EXPECT_FALSE(decodes("Pair", "30078001ff830100"));
    EXPECT_FALSE(decodes("Pair", "30058001ff830100"));
    EXPECT_FALSE(decodes("Pair", "30068001ff830200"));
    // fields out of order, or an unknown one in a type without extensions
    EXPECT_FALSE(decodes("Pair", "3006830100" "8001ff"));
    EXPECT_FALSE(decodes("Pair", "30098001ff8301008401aa"));
    // an empty SEQUENCE at the very end of the input
    EXPECT_TRUE(decodesTo("Empty", "3000", "{_,_}"));
    EXPECT_TRUE(decodesTo("Names", "3000", "[]"));
    // additions that our version of Grown does not know are skipped
    EXPECT_TRUE(decodesTo("Grown", "300c800105820107" "8402aabb" "8500", "{5,_,7,_}"));
    // decoded again, a value keeps nothing of what it held: absent fields
    // become absent
    auto value = decoded("Pair", "300a8001ff8102000a830101");
    ASSERT_TRUE(value);
    EXPECT_TRUE(*value == *built("Pair", "{T,10,_,1}"));
    CoderEnv env;
    env.set_encodingRule(CoderEnv::ber);
    std::vector<char> const bare = PerTest::fromHex("30068001ff830102");
    ASSERT_TRUE(decode(bare.data(), bare.data() + bare.size(), &env, *value, true));
    EXPECT_TRUE(*value == *built("Pair", "{T,_,_,2}"));
}

// An optional field ends its SEQUENCE, however many octets follow in the
// input: the SEQUENCE's own length decides.
TEST(BerDecoder, SequenceEndsAtItsOwnLength)
{
    std::vector<char> const octets = PerTest::fromHex("30038001ff" "830100");
    auto pair = BerTest::make("Pair");
    BERDecoder decoder(octets.data(), octets.data() + octets.size(), nullptr);
    EXPECT_FALSE(pair->accept(decoder)); // colour is mandatory
    auto empty = BerTest::make("Empty");
    std::vector<char> const more = PerTest::fromHex("3003800105" "0101ff");
    BERDecoder second(more.data(), more.data() + more.size(), nullptr);
    ASSERT_TRUE(empty->accept(second));
    EXPECT_EQ(second.position(), more.data() + 5);
}

TEST(BerDecoder, ChoiceAlternativesByTag)
{
    EXPECT_TRUE(decodesTo("Alt", "8301ff", "2:T"));
    EXPECT_TRUE(decodesTo("Nested", "1600", "0:1:s"));
    EXPECT_TRUE(decodesTo("Nested", "850107", "1:7"));
    EXPECT_FALSE(decodes("Alt", "0401aa"));      // no alternative has the tag
    EXPECT_FALSE(decodes("Nested", "840107"));
    EXPECT_FALSE(decodes("Pick", "830105"));
    EXPECT_FALSE(decodes("Tagged", "62038001f9")); // the CHOICE's own tag is wrong
    EXPECT_FALSE(decodes("Tagged", "61048001f900")); // more than the alternative inside
    EXPECT_FALSE(decodes("Tagged", "41038001f9"));   // primitive wrapper
    // An extensible CHOICE skips an alternative added after our version.
    auto value = decoded("PickExt", "8702aabb");
    ASSERT_TRUE(value);
    EXPECT_TRUE(static_cast<CHOICE&>(*value).isUnknownSelection());
    EXPECT_EQ(encoded(*value), "failed");
    // decoded again into the same value, nothing of the old selection stays
    auto reused = built("PickExt", "0:5");
    std::vector<char> const longTag = PerTest::fromHex("9f8480800000");
    BERDecoder decoder(longTag.data(), longTag.data() + longTag.size(), nullptr);
    ASSERT_TRUE(reused->accept(decoder));
    EXPECT_TRUE(static_cast<CHOICE&>(*reused).isUnknownSelection());
    // an untagged optional CHOICE is present only when one of its
    // alternatives has the tag
    EXPECT_TRUE(decodesTo("Loose", "3003160161", "{_,1:s61}"));
    EXPECT_TRUE(decodesTo("Loose", "3003800101", "{1,_}"));
    EXPECT_TRUE(decodesTo("Loose", "3003040161", "{_,_}")); // skipped as an unknown addition
}

TEST(BerDecoder, ListsAndOpenValues)
{
    EXPECT_TRUE(decodesTo("SetOfInt", "3106020101020102", "[1,2]"));
    EXPECT_FALSE(decodes("SetOfInt", "3006020101020102"));
    EXPECT_FALSE(decodes("SetOfInt", "3105020101020102")); // an element runs past the list
    EXPECT_FALSE(decodes("SetOfInt", "31050201010101"));
    // an untagged open value takes one whole element; EOC octets are none
    auto list = decoded("Anys", "30070400" "0403aabbcc");
    ASSERT_TRUE(list);
    EXPECT_TRUE(*list == *built("Anys", "[x0400,x0403aabbcc]"));
    EXPECT_EQ(encoded(*list), "30070400" "0403aabbcc");
    EXPECT_FALSE(decodes("Anys", "30020000"));
    EXPECT_FALSE(decodes("Anys", "3004" "0000" "0000"));
    // a tagged open value holds exactly one complete element
    EXPECT_TRUE(decodesTo("Holder", "3008a0030401aa8101ff", "{x0401aa,T}"));
    EXPECT_FALSE(decodes("Holder", "3005a0008101ff"));
    EXPECT_FALSE(decodes("Holder", "3009a0040401aa008101ff"));
    EXPECT_FALSE(decodes("Holder", "3007a0020401" "8101ff"));
    EXPECT_FALSE(decodes("Holder", "3008a0038101ff8101ff" "00")); // primitive [0] inside
    // a length of 4 GB is refused before any storage is sized for it
    EXPECT_FALSE(decodes("Holder", "300aa084fffffff00401aa"));
    EXPECT_FALSE(decodes("Anys", "30060484fffffff0"));
    // a type-constrained open value decodes its contents in place
    auto envelope = decoded("Envelope", "3008800101a103020105");
    ASSERT_TRUE(envelope);
    EXPECT_EQ(encoded(*envelope), "3008800101a103020105");
    EXPECT_FALSE(decodes("Envelope", "3009800101a10402010500"));
    EXPECT_FALSE(decodes("Envelope", "3008800101a103010105"));
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

TEST(BerCoderEnv, RulesZeroAndOneAndUnknownRules)
{
    auto pair = built("Pair", "{T,5,s6e,2}");
    CoderEnv env;
    env.set_encodingRule(CoderEnv::ber);
    std::vector<char> octets;
    ASSERT_TRUE(encode(*pair, &env, std::back_inserter(octets)));
    EXPECT_EQ(PerTest::toHex(octets), "300c8001ff810105" "82016e" "830102");
    octets.clear();
    env.set_encodingRule(CoderEnv::EncodingRules(3));
    EXPECT_FALSE(encode(*pair, &env, std::back_inserter(octets)));
    EXPECT_TRUE(octets.empty());
    std::vector<char> const ber = PerTest::fromHex("30038001ff");
    EXPECT_FALSE(decode(ber.data(), ber.data() + ber.size(), &env, *pair, true));
    EXPECT_TRUE(*pair == *built("Pair", "{T,5,s6e,2}"));

    env.set_encodingRule(CoderEnv::avn);
    std::string text;
    ASSERT_TRUE(encode(*pair, &env, std::back_inserter(text)));
    EXPECT_EQ(text, "{\n  flag TRUE,\n  slot 5,\n  name \"n\",\n  colour blue\n}");
    auto back = BerTest::make("Pair");
    std::string const spaced = text + " \n";
    EXPECT_TRUE(decode(spaced.data(), spaced.data() + spaced.size(), &env, *back, true));
    EXPECT_TRUE(*back == *pair);
    std::string const trailing = text + " x";
    EXPECT_FALSE(decode(trailing.data(), trailing.data() + trailing.size(), &env, *back, true));
}

} // namespace
