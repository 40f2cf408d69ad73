// Reads arbitrary text as value notation of the deepest test type and of a
// type of tagged CHOICEs. Whatever reads is printed: the printed text must
// read again, and from there on value and text must stay the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "asn1/avn_decoder.h"
#include "samples/asn1/ber_test_types.h"

namespace {

std::unique_ptr<ASN1::AbstractData> parsed(std::string const& type, std::string const& text)
{
    auto value = BerTest::make(type);
    if (!value->setFromValueNotation(text))
        std::abort();
    return value;
}

void check(std::string const& type, std::string const& text)
{
    auto value = BerTest::make(type);
    if (!value->setFromValueNotation(text))
        return;
    // Lenient contents (a time's text) settle after one round.
    auto second = parsed(type, value->asValueNotation());
    std::string const printed = second->asValueNotation();
    auto third = parsed(type, printed);
    if (*third != *second || third->asValueNotation() != printed)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    std::string const text(reinterpret_cast<char const*>(data), size);
    check("Deep", text);
    check("Rec", text);
    return 0;
}
