// The put area shared by the log stream buffers: either their own buffer,
// freed here, or one a caller gave through setbuf, which stays the caller's.
// A full area is handed to sync() before the next character goes in.
#pragma once

#include <cstddef>
#include <streambuf>

class PutAreaStreamBuf : public std::streambuf {
protected:
    ~PutAreaStreamBuf() override { free_buffer(); }

    // 'spare' bytes at the end stay outside the put area.
    void install(char* buffer, size_t n, bool owned, size_t spare = 0)
    {
        mBuffer = buffer;
        mOwned = owned;
        setp(buffer, buffer + n - spare);
    }
    void free_buffer()
    {
        if (mOwned)
            delete[] mBuffer;
        mBuffer = nullptr;
        mOwned = false;
        setp(nullptr, nullptr);
    }

    int overflow(int c) override
    {
        sync();
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return 0;
        if (!mBuffer || pptr() == epptr())
            return traits_type::eof();
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }

    char* mBuffer = nullptr;
    bool mOwned = false;
};
