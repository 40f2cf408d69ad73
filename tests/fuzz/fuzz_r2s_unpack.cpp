// Decodes arbitrary octets as R2S header extensions of both forms: whatever
// decodes must encode again, within the longest possible packet, to octets
// that decode to the same record.
#include "rtp/r2s_codec.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact copy, so a read past the packet is caught.
    std::unique_ptr<unsigned char[]> packet(new unsigned char[size + !size]);
    if (size)
        std::memcpy(packet.get(), data, size);
    for (bool rx : {true, false}) {
        r2s_proto r;
        r2s_proto_init(&r, 0);
        int32_t got = rx ? r2s_proto_unpack_rx(&r, packet.get(), size) : r2s_proto_unpack_tx(&r, packet.get(), size);
        if (got != 0)
            continue;
        unsigned char wire[2 + 16 * 13];
        int32_t n = r2s_proto_pack(&r, wire, sizeof wire);
        if (n < 4)
            std::abort();
        r2s_proto again;
        r2s_proto_init(&again, 0);
        got = rx ? r2s_proto_unpack_rx(&again, wire, size_t(n)) : r2s_proto_unpack_tx(&again, wire, size_t(n));
        if (got != 0 || std::memcmp(&r, &again, sizeof r) != 0)
            std::abort();
    }
    return 0;
}
