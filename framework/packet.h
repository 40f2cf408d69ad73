// Pooled, reference-counted packet buffers with head room and tail room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "framework/list_allocator.h"
#include "framework/smart_pointer.h"

enum : unsigned {
    packet_max_size = 65536,
    packet_pool_size = 1024,
    // Buffers that the lines' queues leave in the pool: queues stalled by
    // their peers, on every line together, cannot run dry the pool the
    // whole daemon lives on.
    packet_pool_reserve = 256,
};

// One pooled buffer. The data window [fdata, ftail) lies inside fbuf; head
// room, length and tail room add up to packet_max_size.
class _Packet
{
public:
    // All head room.
    _Packet() : ref_counter(0), fdata(fbuf + packet_max_size), ftail(fbuf + packet_max_size) {}
    // Same window offsets; only the data bytes are copied. The count is the
    // caller's to set.
    _Packet(_Packet const& o);
    _Packet& operator=(_Packet const&) = delete;

    // From the pool; std::bad_alloc when it is empty.
    static void* operator new(std::size_t);
    static void operator delete(void* p);

    uint32_t ref_counter;
    unsigned char* fdata;
    unsigned char* ftail;
    unsigned char fbuf[packet_max_size];
};

typedef List_allocator<_Packet, packet_pool_size, Dummy_critical_section> PacketPool;

// True when taking `more` buffers would cut into the lines' reserve.
inline bool PacketPoolLow(unsigned more = 0)
{
    return PacketPool::available() < packet_pool_reserve + more;
}

class Packet;

// Snapshot of a packet for the assertion dump.
class PacketInfo
{
public:
    explicit PacketInfo(Packet const& p);
    void put(std::ostream& os) const;

private:
    bool is_null;
    bool consistent;
    unsigned head, len, tail;
    std::vector<unsigned char> bytes;
};

std::ostream& operator<<(std::ostream& os, PacketInfo const& info);

// Copy-on-write handle: copies share the buffer until one of them is
// modified. A broken contract (null packet, length or index beyond the
// window) dumps the packet on std::clog and terminates.
class Packet : public Smart_pointer<_Packet>
{
public:
    Packet() {}

    // Room on an empty packet; a null packet gets a pool buffer. On a packet
    // holding data the window moves without moving bytes and must stay
    // inside the buffer on both sides.
    void reserve_head(unsigned n);
    void reserve_tail(unsigned n);

    unsigned length() const { return ptr ? unsigned(ptr->ftail - ptr->fdata) : 0; }
    bool empty() const { return length() == 0; }
    bool operator<(unsigned n) const { return length() < n; }
    unsigned _length() const { return unsigned(ptr->ftail - ptr->fdata); }
    unsigned _headroom() const { return unsigned(ptr->fdata - ptr->fbuf); }
    unsigned _tailroom() const { return unsigned(ptr->fbuf + packet_max_size - ptr->ftail); }
    unsigned tailroom();
    unsigned char* data();
    unsigned char* tail();
    void clear() { clean(); }

    // Appends n bytes and returns where they start; their content is the
    // caller's to write.
    unsigned char* put(unsigned n)
    {
        // Fast path: a buffer of our own with room; the rest asserts.
        if (ptr && ptr->ref_counter == 1 && n <= unsigned(ptr->fbuf + packet_max_size - ptr->ftail)) {
            unsigned char* at = ptr->ftail;
            ptr->ftail += n;
            return at;
        }
        return put_slow(n);
    }
    unsigned char* put8(unsigned char b)
    {
        // Fast path: a buffer of our own with room; the rest asserts.
        if (ptr && ptr->ref_counter == 1 && ptr->ftail < ptr->fbuf + packet_max_size) {
            *ptr->ftail = b;
            return ptr->ftail++;
        }
        return put8_slow(b);
    }
    void put16(unsigned short v);   // low byte first
    void put16_b(unsigned short v); // high byte first
    void put(Packet const& p);
    // A length byte and the bytes; at most 255 bytes are written, so the
    // length byte always tells what follows.
    void put(std::string const& s);

    // Prepends n bytes from the head room; returns the new start.
    unsigned char* push(unsigned n)
    {
        if (ptr && ptr->ref_counter == 1 && n <= unsigned(ptr->fdata - ptr->fbuf))
            return ptr->fdata -= n;
        return push_slow(n);
    }
    unsigned char* push8(unsigned char b);
    void push16_b(unsigned short v); // data then start with the high byte

    // Removes n bytes from the head; the old start stays readable.
    unsigned char* pull(unsigned n)
    {
        if (ptr && ptr->ref_counter == 1 && n <= unsigned(ptr->ftail - ptr->fdata)) {
            unsigned char* at = ptr->fdata;
            ptr->fdata += n;
            return at;
        }
        return pull_slow(n);
    }
    // 0 and nothing removed when empty, so missing bytes read as 0.
    unsigned char pull8()
    {
        if (ptr && ptr->ref_counter == 1 && ptr->fdata < ptr->ftail)
            return *ptr->fdata++;
        return pull8_slow();
    }
    unsigned short pull16() { return pull16_l(); }
    unsigned short pull16_l();
    unsigned short pull16_b();
    std::string pull_string();
    // Removes n bytes from the tail; returns the new end.
    unsigned char* trim(unsigned n);

    unsigned char& operator[](int i);
    unsigned char const& operator[](int i) const;

    // A packet of its own holding bytes start .. start + len - 1.
    Packet sub(unsigned start, unsigned len) const;

    // Upper-case hex bytes separated by blanks; "(null)" or "(bad)".
    std::string text() const;
    bool dump(std::ostream& os) const;
    bool dump_context(std::ostream& os) const;

    void check(char const* op) const;
    [[noreturn]] static void check_fail(char const* format, ...) __attribute__((format(printf, 1, 2)));
    void passert(bool ok, char const* message) const
    {
        if (!ok)
            assertion_failed(message);
    }
    void passert(bool ok, std::string const& message) const
    {
        if (!ok)
            assertion_failed(message.c_str());
    }

private:
    friend class PacketInfo;
    bool consistent() const;
    unsigned char* put_slow(unsigned n);
    unsigned char* push_slow(unsigned n);
    unsigned char* pull_slow(unsigned n);
    unsigned char* put8_slow(unsigned char b);
    unsigned char pull8_slow();
    // Null check, then a buffer of this handle's own.
    _Packet* writable();
    [[noreturn]] void assertion_failed(char const* message) const;
};

std::ostream& operator<<(std::ostream& os, Packet const& p);
