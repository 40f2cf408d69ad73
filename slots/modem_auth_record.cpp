#include "slots/modem_auth_record.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ModemAuth {

uint32_t Record::Word(size_t offset) const
{
    uint32_t word = 0;
    if (offset + sizeof word <= size)
        std::memcpy(&word, data + offset, sizeof word);
    return word;
}

std::string Record::Text(size_t offset, size_t length) const
{
    if (offset >= size)
        return {};
    const char* begin = reinterpret_cast<const char*>(data + offset);
    size_t room = std::min(length, size - offset);
    const void* nul = std::memchr(begin, 0, room);
    return std::string(begin, nul ? static_cast<const char*>(nul) - begin : room);
}

namespace {

void Put(std::vector<uint8_t>& record, uint32_t word)
{
    size_t at = record.size();
    record.resize(at + sizeof word);
    std::memcpy(record.data() + at, &word, sizeof word);
}

std::vector<uint8_t> Header(size_t length, Type type, uint32_t session)
{
    std::vector<uint8_t> record;
    record.reserve(length);
    Put(record, static_cast<uint32_t>(length));
    Put(record, type);
    Put(record, session);
    return record;
}

} // namespace

std::vector<uint8_t> MakeAccept(uint32_t session)
{
    std::vector<uint8_t> record = Header(kAcceptSize, AuthAccept, session);
    Put(record, 1);
    return record;
}

std::vector<uint8_t> MakeIp(uint32_t session, uint32_t remote, uint32_t netmask, uint32_t gateway, uint32_t dns,
                            uint32_t mtu)
{
    std::vector<uint8_t> record = Header(kIpSize, AuthIp, session);
    Put(record, 0);
    for (uint32_t address : {remote, netmask, gateway, dns}) {
        size_t at = record.size();
        record.resize(at + 4);
        std::memcpy(record.data() + at, &address, 4); // already in network order
    }
    Put(record, mtu);
    return record;
}

Reader::Stop Reader::Pump(const Read& read, const Sink& sink)
{
    for (;;) {
        while (mHave < mWant) {
            ssize_t n = read(mBuffer + mHave, mWant - mHave);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno == EAGAIN || errno == EWOULDBLOCK ? Drained : Failed;
            }
            if (n == 0)
                return Ended;
            mHave += static_cast<size_t>(n);
        }
        uint32_t length;
        std::memcpy(&length, mBuffer, sizeof length);
        if (length < kMinLength || length > kMaxLength) {
            mBadLength = length;
            return BadLength;
        }
        if (mHave < length) {
            mWant = length;
            continue;
        }
        mHave = 0;
        mWant = 4;
        if (!sink(Record{mBuffer, length}))
            return Stopped;
    }
}

} // namespace ModemAuth
