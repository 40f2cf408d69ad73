// Unpacks arbitrary octets as a LEMZ radio packet: whatever unpacks must pack
// again to a packet that unpacks to the same record, and print.
#include "rtp/lemz_codec.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact copy, so a read past the packet is caught.
    std::unique_ptr<unsigned char[]> packet(new unsigned char[size]);
    if (size)
        std::memcpy(packet.get(), data, size);
    sig_proto r;
    sig_proto_init(&r);
    if (sig_proto_unpack(&r, packet.get(), size) != 0)
        return 0;
    unsigned char wire[1024];
    int32_t n = sig_proto_pack(&r, wire, sizeof wire);
    if (n < 4 || n % 4 != 0)
        std::abort();
    sig_proto again;
    sig_proto_init(&again);
    if (sig_proto_unpack(&again, wire, static_cast<size_t>(n)) != 0 || cmp_sig_proto(&r, &again) != 0)
        std::abort();
    char text[8192];
    sprintf_sig_proto(text, sizeof text, &r, 2);
    return 0;
}
