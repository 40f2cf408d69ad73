#pragma once

// Records of the modem peers' authentication service: 32-bit words in the
// host's byte order (the peers run on the same host): length (this word
// included), type, session id (the DSP modem number, or 0xFFFFFFFF for a
// digital modem), then the body of the type.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ModemAuth {

enum Type : uint32_t { AuthRequest = 1, AuthAccept = 2, AuthIp = 3, Accounting = 4 };

constexpr size_t kHeaderSize = 12;
constexpr size_t kMinLength = 4;
constexpr size_t kMaxLength = 512;
constexpr size_t kAuthRequestSize = 140;
constexpr size_t kAcceptSize = 16;
constexpr size_t kIpSize = 36;
constexpr size_t kAccountingSize = 64;
constexpr size_t kTextSize = 64;
constexpr uint32_t kDigitalSession = 0xFFFFFFFFu;

// One whole record as received; words beyond its end read as 0.
struct Record {
    const uint8_t* data;
    size_t size;

    uint32_t Word(size_t offset) const;
    uint32_t type() const { return Word(4); }
    uint32_t session() const { return Word(8); }
    // A text field: up to its first NUL, at most `size` octets.
    std::string Text(size_t offset, size_t size) const;
};

std::vector<uint8_t> MakeAccept(uint32_t session);
// Addresses as four octets in network order.
std::vector<uint8_t> MakeIp(uint32_t session, uint32_t remote, uint32_t netmask, uint32_t gateway, uint32_t dns,
                            uint32_t mtu);

// Cuts a byte stream into records, asking each read only for the bytes of
// the current record, so what follows stays in the socket.
class Reader {
public:
    enum Stop {
        Drained,   // the read would block
        Ended,     // the peer closed
        Failed,    // a read error
        BadLength, // a length outside 4..512
        Stopped,   // the sink asked to stop
    };
    // read(2) contract.
    using Read = std::function<ssize_t(void* buffer, size_t size)>;
    // False stops the reading.
    using Sink = std::function<bool(const Record& record)>;

    Stop Pump(const Read& read, const Sink& sink);
    uint32_t badLength() const { return mBadLength; }

private:
    uint8_t mBuffer[kMaxLength];
    size_t mHave = 0;
    size_t mWant = 4;
    uint32_t mBadLength = 0;
};

} // namespace ModemAuth
