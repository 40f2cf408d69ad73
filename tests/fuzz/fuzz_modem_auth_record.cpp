// The modem authentication service's record reader over any byte stream,
// cut into reads of varying sizes with would-block pauses between them.

#include "slots/modem_auth_record.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t pattern = data[0];
    const uint8_t* stream = data + 1;
    size_t left = size - 1;
    size_t reads = 0;
    bool pause = false;
    auto read = [&](void* buffer, size_t want) -> ssize_t {
        ++reads;
        // Every other read blocks when the pattern says so.
        if ((pattern & 0x80) && (pause = !pause)) {
            errno = EAGAIN;
            return -1;
        }
        if (left == 0)
            return 0;
        size_t chunk = 1 + ((pattern & 0x7F) + reads) % 37;
        size_t n = chunk < want ? chunk : want;
        n = n < left ? n : left;
        std::memcpy(buffer, stream, n);
        stream += n;
        left -= n;
        return static_cast<ssize_t>(n);
    };
    size_t records = 0;
    auto sink = [&](const ModemAuth::Record& record) {
        if (record.size < ModemAuth::kMinLength || record.size > ModemAuth::kMaxLength)
            std::abort();
        volatile uint32_t sum = record.type() + record.session() + record.Word(record.size - 4);
        (void)sum;
        if (record.Text(ModemAuth::kHeaderSize, ModemAuth::kTextSize).size() > ModemAuth::kTextSize)
            std::abort();
        ++records;
        return true;
    };
    ModemAuth::Reader reader;
    for (;;) {
        ModemAuth::Reader::Stop stop = reader.Pump(read, sink);
        if (stop != ModemAuth::Reader::Drained)
            break;
    }
    return 0;
}
