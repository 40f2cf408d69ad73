// Decodes arbitrary octets as the deep test types and re-encodes whatever
// decodes: the encoding must decode again to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "samples/asn1/per_test_types.h"

namespace {

// Whatever decodes must encode (unless it holds what the encoder does not
// write, such as a length above 8191) and decode again to an equal value.
void roundTrip(char const* type, char const* first, std::size_t size)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    auto value = PerTest::make(type);
    if (!ASN1::decode(first, first + size, &env, *value, true))
        return;
    std::vector<char> octets;
    if (!ASN1::encode(*value, &env, std::back_inserter(octets)))
        return;
    auto again = PerTest::make(type);
    if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, *again, true) || *again != *value)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    char const* first = reinterpret_cast<char const*>(data);
    roundTrip("Deep", first, size);
    roundTrip("Extras", first, size);
    return 0;
}
