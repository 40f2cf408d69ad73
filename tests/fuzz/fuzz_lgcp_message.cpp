// Decodes arbitrary octets as a control-link message, as the daemon does with
// every payload from the controller. Whatever decodes must print in value
// notation (the log lines do), pass through the validity checks, and encode
// to octets that decode again to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "asn1/coder_env.h"
#include "protocol/lgcp.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    char const* first = reinterpret_cast<char const*>(data);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    LGCP::Message message;
    if (!env.decode(first, first + size, message))
        return 0;

    std::ostringstream printed;
    printed << message;
    if (printed.fail() || printed.str().empty())
        std::abort();

    // The tracer must agree with the checker it explains.
    bool const valid = message.isValid();
    std::ostringstream why;
    if (ASN1::trace_invalid(why, "invalid:", message) != valid)
        std::abort();
    if (message.isStrictlyValid() && !valid)
        std::abort();

    // A length above what the encoder writes is the one thing that may not
    // encode again.
    std::vector<char> octets;
    if (!env.encode(message, std::back_inserter(octets)))
        return 0;
    LGCP::Message again;
    if (!env.decode(octets.data(), octets.data() + octets.size(), again) || again != message)
        std::abort();
    return 0;
}
