#pragma once

#include "standin/board.h"

#include <map>

// The TDM switch behind /dev/hal: it records which output is fed from which
// input, which outputs carry a constant (idle) byte and which are disabled.

namespace Standin {

class Switch : public Driver {
public:
    enum class Mode { Free, Fed, Constant, Disabled };
    struct Output {
        Mode mode = Mode::Free;
        int input = -1;  // Fed
        int value = -1;  // Constant
    };

    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    // The state of one output (Free when never touched).
    Output At(int output) const;
    // The input feeding the output, -1 when it is not fed.
    int Source(int output) const;
    bool IsIdle(int output) const;
    // Every fed output with its input.
    std::map<int, int> Connections() const;

    // Forgets every output (a fresh switch).
    void Reset() { mOutputs.clear(); }
    size_t requests() const { return mRequests; }

private:
    std::map<int, Output> mOutputs;
    size_t mRequests = 0;
};

} // namespace Standin
