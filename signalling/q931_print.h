// Readable text of one LAPD frame and the Q.931 message it carries, for the
// link traces.
#pragma once

#include <cstddef>

namespace ISDN {

enum { logbuf_size = 1024 };

// The text of the last traced frame, shared by every link (one event loop).
extern char logbuf[logbuf_size];

// Writes the text of the frame into out (at most size characters with the
// terminating NUL; a longer text is cut). direction is non-zero for a frame
// travelling from the network to the user. Reads nothing outside
// frame[0 .. len). Returns the length of the text.
std::size_t dlogframe(unsigned char const* frame, int len, int direction, char* out, std::size_t size);

// The same into logbuf.
inline std::size_t dlogframe(unsigned char const* frame, int len, int direction)
{
    return dlogframe(frame, len, direction, logbuf, logbuf_size);
}

} // namespace ISDN
