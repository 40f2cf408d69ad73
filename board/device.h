#pragma once

// The one way into the board's devices. Opens and requests go through the
// installed backend (the system's own devices unless a stand-in board is
// installed); read, write, poll and close stay plain calls on the descriptor.

namespace Device {

class Backend {
public:
    virtual ~Backend() = default;
    // Same contract as open(2): a close-on-exec descriptor, or -1 with errno.
    virtual int Open(const char* path, int flags) = 0;
    // Same contract as ioctl(2): the request's result, or -1 with errno.
    virtual int Request(int fd, unsigned long code, void* arg) = 0;
    // Same contract as socket(2), close-on-exec: the sockets whose requests
    // reach the board's network interfaces.
    virtual int Socket(int domain, int type, int protocol);
};

int Open(const char* path, int flags);
int Request(int fd, unsigned long code, void* arg = nullptr);
int Socket(int domain, int type, int protocol = 0);

// Makes the backend current and returns the previous one; nullptr puts the
// system's devices back.
Backend* Install(Backend* backend);
Backend& Current();

} // namespace Device
