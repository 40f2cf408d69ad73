// Parses arbitrary frames of the transparent HDLC slot: nothing read may lie
// outside the frame, and what is parsed must describe it.
#include "signalling/hdlc_frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    // An exact copy, so that reading past the frame is caught.
    std::vector<unsigned char> frame(data, data + size);
    HdlcFrame::Parsed f;
    const unsigned char* begin = frame.empty() ? nullptr : frame.data();
    if (!HdlcFrame::Parse(begin, unsigned(frame.size()), f)) {
        if (size >= HdlcFrame::kHeader)
            std::abort();
        return 0;
    }
    if (f.length + HdlcFrame::kHeader != size || f.body != begin + HdlcFrame::kHeader || f.counter > 7
        || (f.more && f.length < 2))
        std::abort();
    unsigned sum = 0;
    for (unsigned i = 0; i < f.length; ++i)
        sum += f.body[i];
    return sum == ~0u; // never: the sum only makes every body octet read
}
