#include "rtp/rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned kMaxText = 255;

unsigned Words(unsigned octets)
{
    return (octets + 3) & ~3u;
}

void Put32(char* p, uint32_t v)
{
    p[0] = static_cast<char>(v >> 24);
    p[1] = static_cast<char>(v >> 16);
    p[2] = static_cast<char>(v >> 8);
    p[3] = static_cast<char>(v);
}

} // namespace

unsigned Msg::encode(char* buf, unsigned size) const
{
    if (size <= 7)
        return 0;
    unsigned body = encode_body(buf + 4, size - 4);
    // A header without its body would be a malformed packet.
    if (body == 0)
        return 0;
    unsigned length = 4 + body;
    buf[0] = static_cast<char>(0x80 | (count() & 31));
    buf[1] = static_cast<char>(pt());
    buf[2] = static_cast<char>((length / 4 - 1) >> 8);
    buf[3] = static_cast<char>(length / 4 - 1);
    return length;
}

unsigned SDES::encode_body(char* buf, unsigned size) const
{
    // SSRC and the end of the item list, padded.
    if (size < 8)
        return 0;
    Put32(buf, mSsrc);
    unsigned used = 4;
    for (const Item& item : mItems) {
        unsigned l = std::min<unsigned>(static_cast<unsigned>(item.text().size()), kMaxText);
        if (size - used < Words(l + 3) || Words(used + 2 + l + 1) > size)
            break;
        buf[used++] = static_cast<char>(item.type());
        buf[used++] = static_cast<char>(l);
        std::memcpy(buf + used, item.text().data(), l);
        used += l;
    }
    // The chunk always ends with a zero octet, even with no items.
    unsigned end = Words(used + 1);
    std::memset(buf + used, 0, end - used);
    return end;
}

unsigned BYE::encode_body(char* buf, unsigned size) const
{
    if (size <= 3)
        return 0;
    Put32(buf, mSsrc);
    unsigned used = 4;
    unsigned room = size - used;
    if (!mReason.empty() && room >= 4) {
        unsigned l = std::min<unsigned>({static_cast<unsigned>(mReason.size()), kMaxText, room - 1});
        while (Words(1 + l) > room)
            --l;
        buf[used++] = static_cast<char>(l);
        std::memcpy(buf + used, mReason.data(), l);
        used += l;
        unsigned end = Words(used);
        std::memset(buf + used, 0, end - used);
        used = end;
    }
    return used;
}

} // namespace RTPC
