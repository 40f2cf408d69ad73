#pragma once
// LEMZ packets as the tests build them: a cleared record of one kind, and
// its wire form (empty when it does not pack).

#include "rtp/lemz_codec.h"

#include <vector>

namespace rtptest {

inline sig_proto Fresh(uint32_t kind)
{
    sig_proto r;
    sig_proto_init(&r);
    r.type = kind;
    return r;
}

inline std::vector<unsigned char> Pack(sig_proto const& r, size_t capacity = 1024)
{
    std::vector<unsigned char> b(capacity);
    int32_t n = sig_proto_pack(&r, b.data(), b.size());
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
}

} // namespace rtptest
