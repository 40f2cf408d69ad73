#include "framework/packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iomanip>
#include <iostream>
#include <new>

void SmartPtrAssertion()
{
    std::clog << "SMART POINTER ASSERTION!" << std::endl;
    std::terminate();
}

_Packet::_Packet(_Packet const& o)
    : ref_counter(0),
      fdata(fbuf + (o.fdata - o.fbuf)),
      ftail(fbuf + (o.ftail - o.fbuf))
{
    std::memcpy(fdata, o.fdata, std::size_t(o.ftail - o.fdata));
}

void* _Packet::operator new(std::size_t)
{
    void* p = PacketPool::allocate();
    if (!p)
        throw std::bad_alloc();
    return p;
}

void _Packet::operator delete(void* p)
{
    PacketPool::deallocate(p);
}

static _Packet* new_buffer()
{
    return new _Packet;
}

void Packet::reserve_head(unsigned n)
{
    passert(n <= packet_max_size, "length>packet_max_size");
    if (!ptr) {
        Smart_pointer<_Packet>::operator=(new_buffer());
        passert(ptr != nullptr, "allocation fail");
        ptr->fdata = ptr->ftail = ptr->fbuf + n;
        return;
    }
    // Both ends move: the far one must stay inside the buffer too.
    passert(_headroom() + _length() + n <= packet_max_size, "new_len>packet_max_size");
    _Packet* p = writable();
    p->fdata += n;
    p->ftail += n;
}

void Packet::reserve_tail(unsigned n)
{
    passert(n <= packet_max_size, "len>packet_max_size");
    if (!ptr) {
        Smart_pointer<_Packet>::operator=(new_buffer());
        passert(ptr != nullptr, "allocation fail");
        ptr->fdata = ptr->ftail = ptr->fbuf + packet_max_size - n;
        return;
    }
    passert(_tailroom() + _length() + n <= packet_max_size, "_tailroom()+len <= packet_max_size");
    _Packet* p = writable();
    p->fdata -= n;
    p->ftail -= n;
}

_Packet* Packet::writable()
{
    passert(ptr != nullptr, "null packet");
    prepare_for_modify();
    return ptr;
}

unsigned Packet::tailroom()
{
    passert(ptr != nullptr, "null packet");
    return _tailroom();
}

unsigned char* Packet::data()
{
    return writable()->fdata;
}

unsigned char* Packet::tail()
{
    return writable()->ftail;
}

unsigned char* Packet::put_slow(unsigned n)
{
    passert(ptr != nullptr, "null packet");
    passert(n <= _tailroom(), "len<=_tailroom()");
    _Packet* p = writable();
    unsigned char* at = p->ftail;
    p->ftail += n;
    check("put");
    return at;
}

unsigned char* Packet::put8_slow(unsigned char b)
{
    unsigned char* at = put(1);
    *at = b;
    return at;
}

void Packet::put16(unsigned short v)
{
    put8(static_cast<unsigned char>(v & 0xFF));
    put8(static_cast<unsigned char>(v >> 8));
}

void Packet::put16_b(unsigned short v)
{
    put8(static_cast<unsigned char>(v >> 8));
    put8(static_cast<unsigned char>(v & 0xFF));
}

void Packet::put(Packet const& other)
{
    passert(ptr != nullptr, "null packet");
    unsigned n = other.length();
    if (n == 0)
        return;
    unsigned char* at = put(n);
    // Read the source only now: it may be this very packet, and put() may
    // have given this handle a copy of a buffer the two shared.
    std::memmove(at, other.ptr->fdata, n);
}

void Packet::put(std::string const& s)
{
    passert(ptr != nullptr, "null packet");
    std::size_t n = s.size() > 255 ? 255 : s.size();
    put8(static_cast<unsigned char>(n));
    if (n)
        std::memcpy(put(unsigned(n)), s.data(), n);
}

unsigned char* Packet::push_slow(unsigned n)
{
    passert(ptr != nullptr, "null packet");
    passert(n <= _headroom(), "len<=_headroom()");
    _Packet* p = writable();
    p->fdata -= n;
    check("push");
    return p->fdata;
}

unsigned char* Packet::push8(unsigned char b)
{
    unsigned char* at = push(1);
    *at = b;
    return at;
}

void Packet::push16_b(unsigned short v)
{
    push8(static_cast<unsigned char>(v & 0xFF));
    push8(static_cast<unsigned char>(v >> 8));
}

unsigned char* Packet::pull_slow(unsigned n)
{
    passert(ptr != nullptr, "null packet");
    passert(n <= _length(), "len<=_length()");
    _Packet* p = writable();
    unsigned char* at = p->fdata;
    p->fdata += n;
    return at;
}

unsigned char Packet::pull8_slow()
{
    passert(ptr != nullptr, "null packet");
    if (_length() == 0)
        return 0;
    return *pull(1);
}

unsigned short Packet::pull16_l()
{
    unsigned lo = pull8();
    unsigned hi = pull8();
    return static_cast<unsigned short>(lo | (hi << 8));
}

unsigned short Packet::pull16_b()
{
    unsigned hi = pull8();
    unsigned lo = pull8();
    return static_cast<unsigned short>(lo | (hi << 8));
}

std::string Packet::pull_string()
{
    unsigned n = pull8();
    std::string s;
    s.reserve(n);
    for (unsigned i = 0; i < n; ++i)
        s.push_back(static_cast<char>(pull8()));
    return s;
}

unsigned char* Packet::trim(unsigned n)
{
    passert(ptr != nullptr, "null packet");
    passert(n <= _length(), "len<=_length()");
    _Packet* p = writable();
    p->ftail -= n;
    check("trim");
    return p->ftail;
}

unsigned char& Packet::operator[](int i)
{
    passert(ptr != nullptr, "null packet");
    passert(i >= 0 && unsigned(i) < _length(), "index out of range");
    return writable()->fdata[i];
}

unsigned char const& Packet::operator[](int i) const
{
    passert(ptr != nullptr, "null packet");
    passert(i >= 0 && unsigned(i) < _length(), "index out of range");
    return ptr->fdata[i];
}

Packet Packet::sub(unsigned start, unsigned len) const
{
    passert(ptr != nullptr, "null packet");
    passert(start <= _length(), "start<=_length()");
    passert(len <= _length() - start, "start+len<=_length()");
    Packet out;
    out.Smart_pointer<_Packet>::operator=(new_buffer());
    out.ptr->fdata = out.ptr->fbuf + (ptr->fdata - ptr->fbuf) + start;
    out.ptr->ftail = out.ptr->fdata + len;
    std::memcpy(out.ptr->fdata, ptr->fdata + start, len);
    return out;
}

bool Packet::consistent() const
{
    return ptr->ftail <= ptr->fbuf + packet_max_size && ptr->fdata >= ptr->fbuf && ptr->fdata <= ptr->ftail;
}

std::string Packet::text() const
{
    if (!ptr)
        return "(null)";
    if (!consistent())
        return "(bad)";
    static char const digits[] = "0123456789ABCDEF";
    std::string s;
    unsigned n = _length();
    s.reserve(n ? n * 3 - 1 : 0);
    for (unsigned i = 0; i < n; ++i) {
        if (i)
            s.push_back(' ');
        s.push_back(digits[ptr->fdata[i] >> 4]);
        s.push_back(digits[ptr->fdata[i] & 0x0F]);
    }
    return s;
}

std::ostream& operator<<(std::ostream& os, Packet const& p)
{
    return os << p.text();
}

static void put_window(std::ostream& os, unsigned head, unsigned len, unsigned tail)
{
    std::ios::fmtflags saved = os.flags();
    os << std::dec << "head=" << head << ", data=" << len << ", tail=" << tail;
    os.flags(saved);
}

static void put_bytes(std::ostream& os, unsigned char const* b, std::size_t n)
{
    std::ios::fmtflags saved = os.flags();
    os << "dump:" << std::hex << std::nouppercase;
    for (std::size_t i = 0; i < n; ++i)
        os << ' ' << unsigned(b[i]);
    os.flags(saved);
}

bool Packet::dump(std::ostream& os) const
{
    if (!ptr)
        return false;
    put_window(os, _headroom(), _length(), _tailroom());
    return true;
}

bool Packet::dump_context(std::ostream& os) const
{
    if (!ptr || !consistent())
        return false;
    os.width(2);
    if (_length() == 0)
        return true;
    put_bytes(os, ptr->fdata, _length());
    return true;
}

void Packet::check(char const* op) const
{
    if (!ptr)
        check_fail("after \"%s\" packet is null", op);
    unsigned char const* end = ptr->fbuf + packet_max_size;
    if (ptr->fdata < ptr->fbuf || ptr->fdata > end)
        check_fail("after \"%s\" fdata invalid", op);
    if (ptr->ftail < ptr->fbuf || ptr->ftail > end)
        check_fail("after \"%s\" ftail invalid", op);
    if (ptr->fdata > ptr->ftail)
        check_fail("after \"%s\" fdata>ftail", op);
}

void Packet::check_fail(char const* format, ...)
{
    char message[256];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(message, sizeof(message), format, ap);
    va_end(ap);
    std::clog << "packet check fail" << std::endl << message << std::endl << "terminate." << std::endl;
    std::terminate();
}

void Packet::assertion_failed(char const* message) const
{
    std::clog << "PACKET ASSERTION FAILED!" << std::endl;
    PacketInfo info(*this);
    std::clog << message << std::endl << info << std::endl;
    std::terminate();
}

PacketInfo::PacketInfo(Packet const& p)
    : is_null(p.null()), consistent(false), head(0), len(0), tail(0)
{
    if (is_null)
        return;
    head = p._headroom();
    len = p._length();
    tail = p._tailroom();
    consistent = p.consistent();
    if (consistent)
        bytes.assign(p.ptr->fdata, p.ptr->ftail);
}

void PacketInfo::put(std::ostream& os) const
{
    if (is_null) {
        os << "(null)" << std::endl;
        return;
    }
    put_window(os, head, len, tail);
    os << std::endl;
    if (!consistent) {
        os << "can't dump packet: wrong pointers" << std::endl;
        return;
    }
    if (bytes.empty())
        return;
    put_bytes(os, bytes.data(), bytes.size());
    os << std::endl;
}

std::ostream& operator<<(std::ostream& os, PacketInfo const& info)
{
    info.put(os);
    return os;
}
