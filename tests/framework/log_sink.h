// Test helpers: a temporary directory and a log socket bound inside it.
#pragma once

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

struct TempDir {
    std::string path;
    TempDir()
    {
        char templ[] = "/tmp/gwtest_XXXXXX";
        if (mkdtemp(templ))
            path = templ;
    }
    ~TempDir()
    {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
};

// A socket of the given type bound at <dir>/log, standing for the system log.
struct LogSink {
    TempDir dir;
    std::string path;
    int fd = -1;

    explicit LogSink(int type = SOCK_DGRAM) : path(dir.path + "/log")
    {
        fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            (type == SOCK_STREAM && ::listen(fd, 4) != 0)) {
            ::close(fd);
            fd = -1;
        }
        // Room for large batches.
        int size = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    ~LogSink()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // The next datagram, waiting at most timeout_ms; false when none came.
    bool next(std::string& out, int timeout_ms = 0) const
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) != 1)
            return false;
        std::vector<char> buf(1 << 17);
        ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n < 0)
            return false;
        out.assign(buf.data(), static_cast<size_t>(n));
        return true;
    }

    // Every datagram already queued.
    std::vector<std::string> all() const
    {
        std::vector<std::string> got;
        std::string d;
        while (next(d))
            got.push_back(d);
        return got;
    }
};

// Splits a datagram into its NUL-terminated records; a missing final NUL
// shows as a last record starting with "<unterminated>".
inline std::vector<std::string> records(const std::string& datagram)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < datagram.size()) {
        size_t nul = datagram.find('\0', start);
        if (nul == std::string::npos) {
            out.push_back("<unterminated>" + datagram.substr(start));
            break;
        }
        out.push_back(datagram.substr(start, nul - start));
        start = nul + 1;
    }
    return out;
}
