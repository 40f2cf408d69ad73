// Decodes arbitrary octets as BER, as the deepest test type and as a type of
// explicit and long tags. Whatever decodes is encoded again: our own
// encoding must decode, and from there on the value must stay the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "samples/asn1/ber_test_types.h"

namespace {

std::vector<char> encoded(ASN1::AbstractData const& value, ASN1::CoderEnv& env)
{
    std::vector<char> octets;
    if (!ASN1::encode(value, &env, std::back_inserter(octets)))
        std::abort();
    return octets;
}

std::unique_ptr<ASN1::AbstractData> decoded(std::string const& type, std::vector<char> const& octets,
                                            ASN1::CoderEnv& env)
{
    auto value = BerTest::make(type);
    if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, *value, true))
        std::abort();
    return value;
}

void check(std::string const& type, char const* first, std::size_t size)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    auto value = BerTest::make(type);
    if (!ASN1::decode(first, first + size, &env, *value, true))
        return;
    std::vector<char> octets;
    // an alternative of a later version is skipped and cannot be sent again
    if (!ASN1::encode(*value, &env, std::back_inserter(octets)))
        return;
    // Lenient contents (a time's text) settle after one round.
    auto second = decoded(type, octets, env);
    std::vector<char> const again = encoded(*second, env);
    auto third = decoded(type, again, env);
    if (*third != *second || encoded(*third, env) != again)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    char const* first = reinterpret_cast<char const*>(data);
    check("Deep", first, size);
    check("Rec", first, size);
    return 0;
}
