// Decodes arbitrary octets as the deepest test type and re-encodes whatever
// decodes: the encoding must decode again to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "tests/asn1/per_test_types.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    char const* first = reinterpret_cast<char const*>(data);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    auto value = PerTest::make("Deep");
    if (!ASN1::decode(first, first + size, &env, *value, true))
        return 0;
    std::vector<char> octets;
    if (!ASN1::encode(*value, &env, std::back_inserter(octets)))
        return 0; // a decoded value may hold what cannot be sent (a 16383-octet length)
    auto again = PerTest::make("Deep");
    if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, *again, true) || *again != *value)
        std::abort();
    return 0;
}
