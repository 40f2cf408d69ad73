#include "framework/line_stream.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>

LineStreamBuf::LineStreamBuf(int fd, size_t size) : mFd(fd)
{
    install(new char[size], size, true);
}

LineStreamBuf::~LineStreamBuf()
{
    flush(true);
}

int LineStreamBuf::sync()
{
    flush(false);
    return 0;
}

void LineStreamBuf::flush(bool all)
{
    char* const begin = pbase();
    char* const end = pptr();
    if (!begin || begin == end)
        return;
    const char* last = nullptr;
    for (const char* p = end; p > begin && !last; --p)
        if (p[-1] == '\n')
            last = p;
    const char* upto = all || end == epptr() ? end : last;
    if (!upto)
        return;
    // A log line must not change the errno its writer is about to report.
    const int saved = errno;
    // A descriptor that cannot take the text loses it rather than stall.
    for (const char* p = begin; p < upto;) {
        const ssize_t n = ::write(mFd, p, static_cast<size_t>(upto - p));
        if (n > 0)
            p += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    errno = saved;
    const size_t rest = static_cast<size_t>(end - upto);
    std::memmove(begin, upto, rest);
    setp(begin, epptr());
    pbump(static_cast<int>(rest));
}

StandardLineStreams::StandardLineStreams()
    : mOut(STDOUT_FILENO), mErr(STDERR_FILENO), mLog(STDERR_FILENO),
      mPrevious{std::cout.rdbuf(&mOut), std::cerr.rdbuf(&mErr), std::clog.rdbuf(&mLog)}
{
}

StandardLineStreams::~StandardLineStreams()
{
    std::ostream* streams[] = {&std::cout, &std::cerr, &std::clog};
    LineStreamBuf* own[] = {&mOut, &mErr, &mLog};
    for (int i = 0; i < 3; ++i) {
        own[i]->flush(true);
        if (streams[i]->rdbuf() == own[i])
            streams[i]->rdbuf(mPrevious[i]);
    }
}
