// Prints arbitrary octets as a LAPD frame, as the link traces do with every
// frame they send and receive: the text stays in its buffer, NUL-terminated,
// and nothing outside the frame is read (the frame is an exact-size copy).
#include "signalling/q931_print.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    std::unique_ptr<unsigned char[]> frame(new unsigned char[size ? size : 1]);
    if (size)
        std::memcpy(frame.get(), data, size);
    std::size_t n = ISDN::dlogframe(frame.get(), int(size), size & 1);
    if (n >= ISDN::logbuf_size || std::strlen(ISDN::logbuf) != n)
        std::abort();
    char small[40];
    if (ISDN::dlogframe(frame.get(), int(size), 0, small, sizeof small) >= sizeof small)
        std::abort();
    return 0;
}
