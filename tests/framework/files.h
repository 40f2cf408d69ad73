// Test helpers: temporary directories, file contents and a log socket.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
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

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> dir_entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// The process is there and has not ended (a zombie has).
inline bool Running(int pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] != 'Z';
}

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
        int size = 1 << 20; // room for large batches
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    ~LogSink()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Every datagram already queued.
    std::vector<std::string> all() const
    {
        std::vector<std::string> got;
        std::vector<char> buf(1 << 17);
        ssize_t n;
        while ((n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT)) >= 0)
            got.emplace_back(buf.data(), static_cast<size_t>(n));
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
