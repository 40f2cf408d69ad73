// Aligned-PER wire cases that Erlang cannot check for us: where our links
// depart from X.691, the decoder's limits, and input a peer must not get
// past.
#include "asn1/per_decoder.h"
#include "tests/asn1/helpers.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using namespace asn1_test;

// Each of these differs from what X.691 ALIGNED (and Erlang) would send; the
// controller relies on these forms.
// The departures from X.691 as asn1/README.md tabulates them: every row
// whose type is in code font, both ways.
TEST(PerDepartures, ReadmeTable)
{
    std::ifstream readme(std::string(TEST_SOURCE_DIR) + "/../../asn1/README.md");
    ASSERT_TRUE(readme);
    // "| `Type` | `value` | `ours` | ..." : the cells in code font, unquoted.
    auto code = [](std::string cell, std::string& out) {
        cell.erase(0, cell.find_first_not_of(' '));
        cell.erase(cell.find_last_not_of(' ') + 1);
        if (cell.size() < 2 || cell.front() != '`' || cell.back() != '`')
            return false;
        out = cell.substr(1, cell.size() - 2);
        return true;
    };
    int rows = 0;
    for (std::string line; std::getline(readme, line);) {
        std::vector<std::string> cells;
        std::istringstream split(line);
        for (std::string cell; std::getline(split, cell, '|');)
            cells.push_back(cell);
        std::string type, text, hex;
        if (cells.size() < 5 || !code(cells[1], type) || !code(cells[2], text) || !code(cells[3], hex))
            continue;
        ++rows;
        hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
        auto v = built(type, text);
        EXPECT_EQ(encoded(*v), hex) << line;
        auto back = decoded(type, hex);
        EXPECT_TRUE(back && *back == *v) << line;
    }
    EXPECT_GE(rows, 15);

    // The contents of an OBJECT IDENTIFIER behind a one-octet length.
    std::string oid = "o1.2", oidHex = "802a";
    for (int i = 0; i < 127; ++i) {
        oid += ".1";
        oidHex += "01";
    }
    EXPECT_EQ(encoded("Oid", oid), oidHex);
    EXPECT_TRUE(decodesTo("Oid", oidHex, oid));
}

// A BIT STRING of more than 16 bits goes out as whole octets, so the next
// field starts on a fresh octet; X.691 goes on after the last bit (Erlang
// writes 11 80 00 c0 for 17 bits and then TRUE).
TEST(PerDepartures, LongBitStringsEndOnAnOctet)
{
    static void const* const fields[] = {&ASN1::BIT_STRING::theInfo, &ASN1::BOOLEAN::theInfo};
    static int const ids[] = {-1, -1};
    static char const* const names[] = {"bits", "flag"};
    static const ASN1::SEQUENCE::InfoType info = {&ASN1::SEQUENCE::create, 16, false, fields, ids, 2, 0, 0,
                                                  nullptr, nullptr, names};
    ASN1::SEQUENCE value(&info);
    auto& bits = static_cast<ASN1::BIT_STRING&>(*value.getField(0));
    bits.resize(17);
    bits.set(0);
    bits.set(16);
    static_cast<ASN1::BOOLEAN&>(*value.getField(1)) = true;
    EXPECT_EQ(encoded(value), "11" "800080" "80");
    ASN1::SEQUENCE back(&info);
    EXPECT_TRUE(decodeInto(back, "1180008080") && back == value);
}

// Lengths of 8192 to 16383 have a two-octet form that the encoder does not
// write; the decoder still reads them.
TEST(PerDepartures, LengthsAbove8191AreReadButNotWritten)
{
    EXPECT_EQ(encoded("Octets", "x" + std::string(2 * 8191, 'a')).substr(0, 6), "9fffaa");
    EXPECT_EQ(encoded("Octets", "x" + std::string(2 * 8192, 'a')), "failed");
    EXPECT_TRUE(decodesTo("Octets", "bfff" + std::string(2 * 16383, '5'), "x" + std::string(2 * 16383, '5')));
    EXPECT_FALSE(decodes("Octets", "c001" + std::string(2 * 16384, '5'))); // fragmented form
}

TEST(PerDepartures, ExtensionMapCoversHeldAdditions)
{
    // Erlang sends a two-bit map for the same value; both decode alike, and
    // what is decoded is sent again with the map it came with.
    auto fromErlang = decoded("Grown", "828180020101");
    ASSERT_TRUE(fromErlang);
    EXPECT_TRUE(*fromErlang == *built("Grown", "{5,_,1,_}"));
    EXPECT_EQ(encoded(*fromErlang), "828180020101");
    // A map with entries but none set sends no extension part.
    auto none = built("Grown", "{5,_,1,_}");
    static_cast<ASN1::SEQUENCE&>(*none).removeOptionalField(1 + 0);
    EXPECT_EQ(encoded(*none), "0280");
}

// A constrained number beyond its bounds fails the decode: a field that can
// carry more than the range holds is checked.
TEST(PerDecoderFaults, NumbersBeyondTheirBoundsFail)
{
    EXPECT_TRUE(decodes("Int1024", "03ff"));
    EXPECT_FALSE(decodes("Int1024", "0400"));
    EXPECT_FALSE(decodes("Int1024", "ffff"));
    auto kept = built("Int1024", "7"); // a failed read leaves the number as it was
    EXPECT_FALSE(decodeInto(*kept, "03"));
    EXPECT_TRUE(*kept == *built("Int1024", "7"));
    EXPECT_FALSE(decodes("Int255", "ff"));     // offset 255 in 1..255
    EXPECT_FALSE(decodes("Colour", "a0"));     // 5 > maximum 4
    EXPECT_FALSE(decodes("Mode", "60"));       // root value 3 > maximum 2
    EXPECT_FALSE(decodes("Pick", "c0"));       // root index 3 of 3
    EXPECT_FALSE(decodes("Wide", "80ffffff")); // 3 octets holding more than the range
    EXPECT_FALSE(decodes("Wide", "c0ffffff")); // a count of 4 octets where 3 is the most
    EXPECT_TRUE(decodes("Wide", "800464e7"));  // 399975: offset 287975
    EXPECT_FALSE(decodes("Digits", "1bb0"));   // index 11 of 11 characters
    EXPECT_FALSE(decodes("LowOnly", "0104"));  // below the lower bound
}

// A number the decoder would read back as another is not written at all.
TEST(PerEncoderFaults, NumbersOutsideTheModelAreRefused)
{
    auto v = BerTest::make("LowOnly");
    auto& number = static_cast<ASN1::INTEGER&>(*v);
    EXPECT_FALSE(number.setNumber(4294967295LL));
    EXPECT_FALSE(number.setNumber(-1));
    ASSERT_TRUE(number.setNumber(2147483647));
    EXPECT_EQ(encoded(*v), "04" "7fffffff");
    number.setValue(-1); // 4294967295 in the type's unsigned view
    EXPECT_EQ(encoded(*v), "failed");
    // Beyond an extensible root the number goes signed and comes back the same.
    EXPECT_EQ(encoded("ExtInt", "-1"), "8001ff");
}

// Every length is checked against the input left before it is used.
TEST(PerDecoderFaults, LengthsBeyondTheInputFail)
{
    for (auto [type, hex] : std::initializer_list<std::pair<char const*, char const*>>{
             {"Flag", ""}, // one bit past the end
             {"Octets", "0a010203"},
             {"Text", "7f41"},
             {"Name", "fc41"}, // 64 characters announced
             {"Wide16", "030041004200"},
             {"Bits", "2001"},
             {"Oid", "052a"},
             {"Time", "0f3230"},
             {"Time", "00"}, // no characters at all
             {"Bytes", "050102"},
             {"Holder", "c8010203"},        // open type of 200 octets
             {"Holder", "0080"},            // an open type is at least one octet
             {"PickExt", "8005aa"},         // extension alternative of 5 octets
             {"Grown", "828180090101"},     // extension addition of 9 octets
             {"Grown", "828180010201"},     // a known addition must fit in its own length
             {"Plain", "05"},               // more octets than a number holds
             {"Plain", ""},                 // no count at all
             {"Plain", "c0"},               // a fragmented count
         })
        EXPECT_FALSE(decodes(type, hex)) << type << " " << hex;
}

// Elements of a list are made one at a time as they are read.
TEST(PerDecoderFaults, ListCountsCreateOnlyWhatIsRead)
{
    auto list = BerTest::make("Bytes");
    EXPECT_FALSE(decodeInto(*list, "8080" "0102")); // 128 announced, 2 sent
    EXPECT_EQ(static_cast<ASN1::SEQUENCE_OF_Base&>(*list).size(), 2u);
    PerTest::resetCreated();
    EXPECT_FALSE(decodes("Counted", "8080" "0102"));
    EXPECT_EQ(PerTest::created(), 3u); // two read, the third failed
    EXPECT_TRUE(decodes("Bytes", "8080" + std::string(256, '0')));
    EXPECT_FALSE(decodes("Bytes", "8081" + std::string(258, '0'))); // above MaximumArraySize
}

TEST(PerDecoderFaults, ExtensionMapCountCannotWrap)
{
    // Grown: extension bit, no optional field, id 0, then a small number
    // whose four octets hold 2^32 - 1: a map of 2^32 bits.
    EXPECT_FALSE(decodes("Grown", "8040" "04ffffffff" + std::string(64, 'f')));
    // 128 bits is the largest map.
    EXPECT_TRUE(decodes("Grown", "8040" "017f" + std::string(32, '0')));
    EXPECT_FALSE(decodes("Grown", "8040" "0180" + std::string(34, '0')));
}

// Additions the type does not know are skipped on reading and never sent on
// without their contents.
TEST(PerDecoderFaults, UnknownAdditionsAreNotSentHalfWritten)
{
    // Map of three: count present, pair absent, a third addition unknown here.
    auto v = decoded("Grown", "8282a0" "020101" "0100");
    ASSERT_TRUE(v);
    EXPECT_TRUE(*v == *built("Grown", "{5,_,1,_}"));
    EXPECT_EQ(encoded(*v), "828180020101");
    // Only the unknown addition: no extension part is sent at all.
    v = decoded("Grown", "8282" "20" "0100");
    ASSERT_TRUE(v);
    EXPECT_EQ(encoded(*v), "0280");
    // An unknown CHOICE alternative is skipped; such a value is not sent.
    v = decoded("PickExt", "8502" "abcd");
    ASSERT_TRUE(v);
    EXPECT_TRUE(static_cast<ASN1::CHOICE&>(*v).isUnknownSelection());
    EXPECT_EQ(encoded(*v), "failed");
    // The decode goes on after an unknown alternative.
    v = decoded("Picks", "02" "8502abcd" "0007");
    ASSERT_TRUE(v);
    auto const& list = static_cast<ASN1::SEQUENCE_OF_Base&>(*v);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(static_cast<ASN1::CHOICE const&>(list.at(0)).isUnknownSelection());
    EXPECT_TRUE(list.at(1) == *built("PickExt", "0:7"));
}

TEST(PerEncoderFaults, ValuesThatCannotBeSentFailAndWriteNothing)
{
    // an open value holding only octets is sent with them
    EXPECT_EQ(encoded("Holder", "{xa1b2,T}"), "02a1b280");
    EXPECT_EQ(encoded("Holder", "{x,F}"), "010000");
    auto wide = built("Wide16", "wffff");
    EXPECT_EQ(encoded(*wide), "01ffff");
    static_cast<ASN1::BMPString&>(*wide).assign(L"\U00010000", 1); // beyond BMP
    EXPECT_EQ(encoded(*wide), "failed");
    EXPECT_EQ(encoded("Fixed", "8"), "failed");           // 7..7 cannot carry 8
    EXPECT_EQ(encoded("Pair", "{T,1024,_,0}"), "failed"); // nested field out of range
    EXPECT_EQ(encoded("Grown", "{5,_,_,{T,1024,_,0}}"), "failed"); // so is one in an addition
    EXPECT_EQ(encoded("Name", "s"), "failed");            // SIZE (1..64)
    EXPECT_EQ(encoded("Digits", "s3161"), "failed");      // 'a' is no digit
    // characters of eight bits go as a block, unlooked-at
    EXPECT_EQ(encoded("Text", "s41ff"), "0241ff");
    EXPECT_EQ(encoded("Name", "s41ff"), "0441ff");
    EXPECT_EQ(encoded(*BerTest::make("Pick")), "failed"); // nothing selected
}

// A value ends where its encoding ends; octets after it are ignored, under
// every rule.
TEST(CoderEnv, OctetsAfterTheValueAreIgnored)
{
    auto exact = decoded("Pair", "a0000500");
    auto longer = decoded("Pair", "a000050000ff");
    ASSERT_TRUE(exact && longer);
    EXPECT_TRUE(*exact == *longer);
    EXPECT_TRUE(decodesTo("Flag", "8000", "T"));
    EXPECT_TRUE(decodes("Nothing", "00")); // a value of no bits is one octet
    EXPECT_TRUE(decodes("Nothing", ""));
    EXPECT_TRUE(decodes("Nothing", "01"));
    // A CHOICE of one alternative of no bits may end the input.
    EXPECT_TRUE(decodes("Ping", ""));
    EXPECT_TRUE(decodes("Ping", "00"));
    EXPECT_EQ(encoded("Ping", "0:N"), "00");
    EXPECT_TRUE(decodesTo("Pair", "300c8001ff810105" "82016e" "830102" "0500", "{T,5,s6e,2}", BER));
}

// The rule defaults to aligned PER; an unknown rule codes nothing and leaves
// the value alone.
TEST(CoderEnv, RulesAndEntryPoints)
{
    ASN1::CoderEnv env;
    EXPECT_EQ(env.get_encodingRule(), ASN1::CoderEnv::per_Aligned);
    auto pair = built("Pair", "{T,5,s6e,2}");
    std::vector<char> out;
    ASSERT_TRUE(env.encode(*pair, std::back_inserter(out)));
    EXPECT_EQ(PerTest::toHex(out), "e00005" "006e" "40");
    EXPECT_EQ(encoded(*pair, BER), "300c8001ff810105" "82016e" "830102");
    EXPECT_EQ(encoded(*pair, Rule(3)), "failed");
    EXPECT_FALSE(decodeInto(*pair, "30038001ff", Rule(3)));
    EXPECT_TRUE(*pair == *built("Pair", "{T,5,s6e,2}"));

    env.set_encodingRule(ASN1::CoderEnv::avn);
    std::string text;
    ASSERT_TRUE(env.encode(*pair, std::back_inserter(text)));
    EXPECT_EQ(text, "{\n  flag TRUE,\n  slot 5,\n  name \"n\",\n  colour blue\n}");
    auto back = BerTest::make("Pair");
    std::string const trailing = text + " x";
    EXPECT_TRUE(env.decode(trailing.data(), trailing.data() + trailing.size(), *back, true));
    EXPECT_TRUE(*back == *pair);
}

TEST(PerCoderEnv, TypeConstrainedOpenValue)
{
    auto v = PerTest::make("Wrapped");
    auto& open = static_cast<ASN1::OpenData&>(*v);
    ASSERT_TRUE(open.has_data());
    static_cast<ASN1::INTEGER&>(open.get_data()).setValue(5);
    EXPECT_EQ(encoded(*v), "020005");
    auto back = decoded("Wrapped", "020009");
    ASSERT_TRUE(back);
    EXPECT_EQ(static_cast<ASN1::INTEGER&>(static_cast<ASN1::OpenData&>(*back).get_data()).getValue(), 9);
    EXPECT_FALSE(decodes("Wrapped", "010009"));

    // Octets kept by an open value are decoded once the contained type is known.
    ASN1::OpenData held;
    held.set_data(PerTest::make("Int1024").release());
    held.grab(new std::vector<char>(PerTest::fromHex("0009")));
    std::vector<char> none;
    ASN1::PERDecoder decoder(none.data(), none.data(), nullptr, true);
    ASSERT_TRUE(decoder.revisit(held));
    EXPECT_EQ(static_cast<ASN1::INTEGER&>(held.get_data()).getValue(), 9);
    held.get_buf() = PerTest::fromHex("04");
    EXPECT_FALSE(decoder.revisit(held));
}

} // namespace

// The last value each range holds and the first it refuses, both ways; the
// edges themselves are in the Erlang vectors.
TEST(PerLimits, ConstrainedNumbers)
{
    struct Case {
        char const *type, *last, *lastHex, *refused;
    } const cases[] = {
        {"Bit1", "1", "80", "2"},                 // range 2: one bit
        {"Int7", "127", "fe", "128"},             // 7 bits
        {"Int255", "255", "fe", "256"},           // range 255: 8 bits unaligned
        {"Int256", "255", "ff", "256"},           // range 256: an aligned octet
        {"Int1024", "1023", "03ff", "1024"},      // 16 bits
        {"Int65536", "65535", "ffff", "65536"},   // 16 bits still
        {"Int65537", "65536", "80010000", "65537"}, // a 2-bit count of 1..3 octets
        {"Wide", "399975", "800464e7", "399976"},
        {"Signed8", "127", "ff", "128"},
        {"Word", "4294967295", "c0ffffffff", nullptr},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(encoded(c.type, c.last), c.lastHex);
        EXPECT_TRUE(decodesTo(c.type, c.lastHex, c.last));
        if (c.refused) {
            EXPECT_EQ(encoded(c.type, c.refused), "failed");
        }
    }
    EXPECT_EQ(encoded("Int255", "1"), "00");
    EXPECT_EQ(encoded("Int255", "0"), "failed");
    EXPECT_EQ(encoded("Signed8", "-128"), "00");
    EXPECT_EQ(encoded("Signed8", "-129"), "failed");
    EXPECT_EQ(encoded("Wide", "112000"), "0000");
    EXPECT_EQ(encoded("Wide", "111999"), "failed");
    // The count of a range above 65536 grows at each octet boundary.
    EXPECT_EQ(encoded("Int65537", "255"), "00ff");
    EXPECT_EQ(encoded("Int65537", "256"), "400100");
    EXPECT_TRUE(decodesTo("Int65537", "400100", "256"));
    EXPECT_FALSE(decodes("Int65537", "80010001")); // 65537 in three octets
    // An extensible root: its last value inside, the next one outside.
    EXPECT_EQ(encoded("ExtInt", "100"), "64");
    EXPECT_EQ(encoded("ExtInt", "101"), "800165");
    EXPECT_EQ(encoded("ExtNeg", "-10"), "00");
    EXPECT_EQ(encoded("ExtNeg", "-11"), "8001f5");
}

// Lengths: a constrained whole number while the upper bound is at most
// 65535 (X.691 10.9.3.3), the general form above it.
TEST(PerLimits, LengthsAndCounts)
{
    EXPECT_EQ(encoded("Octets64K", "xab"), "0001ab");
    EXPECT_EQ(encoded("Octets64K1", "xab"), "01ab");
    EXPECT_TRUE(decodesTo("Octets64K", "0001ab", "xab"));
    EXPECT_EQ(encoded("Bytes64K", "[7]"), "000107");
    EXPECT_TRUE(decodesTo("Bytes64K", "000107", "[7]"));
    std::string const big(2 * 300, 'c');
    EXPECT_EQ(encoded("Octets64K", "x" + big), "012c" + big);
    EXPECT_EQ(encoded("Octets64K1", "x" + big), "812c" + big);

    // The general form: one octet to 127, two from 128.
    EXPECT_EQ(encoded("Octets", "x" + std::string(2 * 127, 'd')), "7f" + std::string(2 * 127, 'd'));
    EXPECT_EQ(encoded("Octets", "x" + std::string(2 * 128, 'd')), "8080" + std::string(2 * 128, 'd'));

    // Sizes at the ends of their ranges, and one past.
    EXPECT_EQ(encoded("Octets10", "x" + std::string(20, 'e')), "a0" + std::string(20, 'e'));
    EXPECT_EQ(encoded("Octets10", "x" + std::string(22, 'e')), "failed");
    EXPECT_FALSE(decodes("Octets10", "b0" + std::string(22, 'e'))); // 11 in the 4-bit field
    EXPECT_EQ(encoded("Name", "s" + std::string(128, '6')).substr(0, 4), "fc66");
    EXPECT_EQ(encoded("Name", "s" + std::string(130, '6')), "failed");
    std::string eight = "[s61";
    for (int i = 1; i < 8; ++i)
        eight += ",s61";
    EXPECT_EQ(encoded("Names", eight + "]").substr(0, 4), "8000"); // 8 in 4 bits, then a 1 in 6
    EXPECT_EQ(encoded("Names", eight + ",s61]"), "failed");
    EXPECT_EQ(encoded("OctetsExt", "x01020304"), "6001020304"); // root bit, then 4 in 1..4
    EXPECT_EQ(encoded("Bits20", "b" + std::string(20, '1')), "a0fffff0"); // 20 in 5 bits, then a block
    EXPECT_EQ(encoded("Bits20", "b" + std::string(21, '1')), "failed");
    EXPECT_EQ(encoded("Bits12", "b" + std::string(11, '1')), "failed");
    EXPECT_EQ(encoded("Bits12", "b" + std::string(13, '1')), "failed");
    EXPECT_EQ(encoded("OctetsExt", "x0102030405"), "80050102030405");

    // A string of up to 16384 units is read; one more is refused before
    // anything is made for it.
    EXPECT_TRUE(decodes("Octets64K", "4000" + std::string(2 * 16384, '1')));
    EXPECT_FALSE(decodes("Octets64K", "4001" + std::string(2 * 16385, '1')));
    static ASN1::BIT_STRING::InfoType const bits64K = {&ASN1::BIT_STRING::create, 3, ASN1::FixedConstraint, 0, 65535};
    static ASN1::AbstractString::InfoType const text64K = {
        &ASN1::AbstractString::create, 22, ASN1::FixedConstraint, 0, 65535, ASN1::IA5StringSet, 128, 7, 7, 8};
    static ASN1::BMPString::InfoType const wide64K = {&ASN1::BMPString::create, 30, ASN1::FixedConstraint, 0, 65535,
                                                      0, 65535, 16, 16};
    struct Kind {
        void const* info;
        unsigned octetsPerUnit, unitsPerOctet;
    } const kinds[] = {{&bits64K, 1, 8}, {&text64K, 1, 1}, {&wide64K, 2, 1}};
    for (auto const& k : kinds) {
        for (unsigned n : {16384u, 16385u}) {
            std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(k.info));
            char length[5];
            std::snprintf(length, sizeof length, "%04x", n);
            std::size_t const octets = (n * k.octetsPerUnit + k.unitsPerOctet - 1) / k.unitsPerOctet;
            EXPECT_EQ(decodeInto(*v, length + std::string(2 * octets, '2')), n == 16384) << n;
        }
    }

    // A list count of 128 is read, 129 is refused, also under a constraint.
    EXPECT_TRUE(decodes("Bytes64K", "0080" + std::string(256, '0')));
    EXPECT_FALSE(decodes("Bytes64K", "0081" + std::string(258, '0')));
}

// A normally small number is 6 bits up to 63, then an octet count and the
// octets; an extension value v of an ENUMERATED goes as v + 1, then v in
// 0..v.
TEST(PerLimits, NormallySmallNumbers)
{
    struct Case {
        char const *value, *hex;
    } const cases[] = {
        {"3", "84c0"},         // 4: 0000100, then 3 in 2 bits
        {"62", "bff8"},        // 63: 0111111, then 62 in 6 bits
        {"63", "c00140fc"},    // 64: 1, count 1, 0x40, then 63 in 6 bits
        {"254", "c001fffe"},   // 255: one octet, then 254 in 8 bits
        {"255", "c0020100ff"}, // 256: two octets, then 255 in an aligned octet
        {"65534", "c002fffffffe"},                // 65535: two octets, then 16 bits
        {"65535", "c003010000ffff"},              // 65536: three octets
        {"16777214", "c003ffffff80fffffe"},       // 2^24 - 1: three octets; then a count of 3 (10), 3 octets
        {"16777215", "c00401000000" "80ffffff"},  // 2^24: four octets
    };
    for (auto const& c : cases) {
        EXPECT_EQ(encoded("Mode", c.value), c.hex) << c.value;
        EXPECT_TRUE(decodesTo("Mode", c.hex, c.value)) << c.value;
    }
}

// The contents of an OBJECT IDENTIFIER stand behind a one-octet count: 255
// octets go, 256 do not.
TEST(PerLimits, ObjectIdentifierContents)
{
    std::string oid = "o1.2", hex = "2a";
    for (int i = 0; i < 254; ++i) {
        oid += ".1";
        hex += "01";
    }
    EXPECT_EQ(encoded("Oid", oid), "ff" + hex);
    EXPECT_TRUE(decodesTo("Oid", "ff" + hex, oid));
    EXPECT_EQ(encoded("Oid", oid + ".1"), "failed");
}

// An open value of 8191 octets has a two-octet count; one more is refused.
TEST(PerLimits, OpenValueCount)
{
    std::string const most(2 * 8191, 'a');
    EXPECT_EQ(encoded("Holder", "{x" + most + ",T}"), "9fff" + most + "80");
    EXPECT_EQ(encoded("Holder", "{x" + most + "aa,T}"), "failed");
    EXPECT_EQ(encoded("Holder", "{x" + std::string(2 * 127, 'b') + ",F}"), "7f" + std::string(2 * 127, 'b') + "00");
    EXPECT_EQ(encoded("Holder", "{x" + std::string(2 * 128, 'b') + ",F}"),
              "8080" + std::string(2 * 128, 'b') + "00");
}

// A BMP range is sent as the offset from its first character, in the
// type's width; a character outside it is refused.
TEST(PerLimits, BmpCharacterRange)
{
    static ASN1::BMPString::InfoType const latin = {&ASN1::BMPString::create, 30, ASN1::FixedConstraint, 1, 3,
                                                    32, 255, 8, 8};
    ASN1::BMPString w(L"a", &latin);
    for (auto [c, hex] : std::initializer_list<std::pair<unsigned, char const*>>{
             {32, "0000"}, {'a', "0041"}, {255, "00df"}, {31, "failed"}, {256, "failed"}}) {
        w[0] = wchar_t(c);
        EXPECT_EQ(encoded(w), hex) << c;
    }
    w = std::wstring{wchar_t(32), wchar_t(255), wchar_t(65)};
    EXPECT_EQ(encoded(w), "8000df21");
    ASN1::BMPString back(&latin);
    ASSERT_TRUE(decodeInto(back, "8000df21"));
    EXPECT_TRUE(back == w);
    // unconstrained: the whole plane, U+0000 and U+FFFF included
    EXPECT_EQ(encoded(ASN1::BMPString(std::wstring{wchar_t(0), wchar_t(0xFFFF)})), "020000ffff");
    EXPECT_TRUE(decodesTo("Wide16", "020000ffff", "w0000ffff"));

    // Two characters take one bit each, as their index in the alphabet
    // (X.691 27.5.4); two bits of a fixed size need no alignment.
    static ASN1::BMPString::InfoType const binary2 = {&ASN1::BMPString::create, 30, ASN1::FixedConstraint, 2, 2,
                                                      L'0', L'1', 1, 1};
    EXPECT_EQ(encoded(ASN1::BMPString(L"01", &binary2)), "40"); // as Erlang encodes them
    EXPECT_EQ(encoded(ASN1::BMPString(L"10", &binary2)), "80");
    for (wchar_t const* text : {L"01", L"10", L"11"}) {
        ASN1::BMPString const pair(text, &binary2);
        ASN1::BMPString out(&binary2);
        ASSERT_TRUE(decodeInto(out, encoded(pair)));
        EXPECT_TRUE(out == pair);
    }
}

// A saved place is gone back to as it was, and never past the input's end.
TEST(PerDecoderFaults, RollbackStaysInTheInput)
{
    std::vector<char> const octets = PerTest::fromHex("a5c3");
    ASN1::PERDecoder d(octets.data(), octets.data() + octets.size(), nullptr);
    EXPECT_TRUE(d.aligned()); // the only variant the links use
    unsigned v;
    ASSERT_TRUE(d.decodeMultiBit(12, v));
    d.rollback({0, 4, true}); // the fifth bit of the first octet
    EXPECT_EQ(d.getBitsLeft(), 12u);
    ASSERT_TRUE(d.decodeMultiBit(8, v));
    EXPECT_EQ(v, 0x5cu);
    d.rollback({0, 0, false}); // nothing saved: stays
    EXPECT_EQ(d.getBitsLeft(), 4u);
    d.rollback({2, 4, true}); // a place at the end has no bits left
    EXPECT_TRUE(d.atEnd());
    EXPECT_EQ(d.getBitsLeft(), 0u);
    EXPECT_FALSE(d.decodeMultiBit(4, v));
    d.rollback({9, 8, true});
    EXPECT_EQ(d.getBitsLeft(), 0u);
}

// A range of 255 values is a bit field that follows the bit before it; one
// of 256 starts on an octet.
TEST(PerLimits, BitFieldUpToARangeOf255)
{
    static void const* const fields[] = {&ASN1::BOOLEAN::theInfo, &ASN1::Constrained_INTEGER<ASN1::FixedConstraint,
                                                                                             1, 255>::theInfo,
                                         &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255>::theInfo};
    static int const ids[] = {-1, -1, -1};
    static char const* const names[] = {"flag", "n", "octet"};
    static const ASN1::SEQUENCE::InfoType info = {&ASN1::SEQUENCE::create, 16, false, fields, ids, 3, 0, 0,
                                                  nullptr, nullptr, names};
    ASN1::SEQUENCE value(&info);
    static_cast<ASN1::BOOLEAN&>(*value.getField(0)) = true;
    static_cast<ASN1::INTEGER&>(*value.getField(1)).setValue(255);
    static_cast<ASN1::INTEGER&>(*value.getField(2)).setValue(255);
    EXPECT_EQ(encoded(value), "ff00" "ff"); // 1, 254 in 8 bits, then an aligned octet
    ASN1::SEQUENCE back(&info);
    EXPECT_TRUE(decodeInto(back, "ff00ff") && back == value);
}
