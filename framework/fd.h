// Owning descriptor handle, captured error numbers and descriptor modes.
#pragma once

#include <iosfwd>

// The errno of the moment of construction; prints as its text.
class Errno
{
public:
    Errno();
    explicit Errno(int value) : mValue(value) {}

    int value() const { return mValue; }
    void Put(std::ostream& os) const;

private:
    int mValue;
};

std::ostream& operator<<(std::ostream& os, Errno const& e);

// Set or clear O_NONBLOCK; true when the flags were written.
bool NonBlockMode(int fd);
bool BlockMode(int fd);
// Set or clear FD_CLOEXEC keeping the other descriptor flags; true on success.
bool SetCloexec(int fd, bool on);

// Owns one descriptor: closes it on destruction, duplicates it on copy.
// Every descriptor it takes, opens or duplicates is close-on-exec, so no
// child program inherits it.
class Fd
{
public:
    Fd() : mFd(-1) {}
    explicit Fd(int fd);
    Fd(Fd const& o) : mFd(o.dup()) {}
    Fd(Fd&& o) noexcept : mFd(o.mFd) { o.mFd = -1; }
    Fd& operator=(Fd const& o);
    Fd& operator=(Fd&& o) noexcept;
    // Leaves errno alone, so a handle going out of scope never hides the
    // error of the call that failed before it.
    ~Fd();

    // A close-on-exec duplicate, -1 for an invalid handle (or dup's failure).
    int dup() const;
    // Invalid: EBADF and -1. Otherwise close()'s result; the handle is -1 after.
    int close();
    // Closes the current descriptor and opens an existing file; errno is
    // kept on failure.
    bool open(char const* path, int flags);
    bool NonBlock();

    bool is_valid() const { return mFd >= 0; }
    explicit operator bool() const { return is_valid(); }
    int lowlevel_fd() const { return mFd; }

private:
    int mFd;
};

int close(Fd& fd);
int write(Fd& fd, void const* buf, unsigned len);
