// Stream text to a descriptor one whole line per write, so that a line is
// never split among the writes of other streams or processes on the same
// descriptor.
#pragma once

#include "framework/put_area.h"

#include <iosfwd>

class LineStreamBuf : public PutAreaStreamBuf {
public:
    explicit LineStreamBuf(int fd, size_t size = 4096);
    // Pending text, also a line without its newline, is written first.
    ~LineStreamBuf() override;

    // Every complete line waiting, and with 'all' or a full put area also
    // the text after the last newline, in one write.
    void flush(bool all);

protected:
    // Complete lines only: a stream that flushes after every insertion
    // (std::cerr) still writes a line at a time.
    int sync() override;

private:
    int mFd;
};

// Gives std::cout, std::cerr and std::clog line writers on descriptors 1
// and 2 for its lifetime; the previous buffers come back afterwards unless
// someone has replaced them meanwhile.
class StandardLineStreams {
public:
    StandardLineStreams();
    ~StandardLineStreams();
    StandardLineStreams(const StandardLineStreams&) = delete;
    StandardLineStreams& operator=(const StandardLineStreams&) = delete;

private:
    LineStreamBuf mOut;
    LineStreamBuf mErr;
    LineStreamBuf mLog;
    std::streambuf* mPrevious[3];
};
