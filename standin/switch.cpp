#include "standin/switch.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace Standin {

namespace {

// Switch channels: 16 buses of 128 time slots from 8192.
bool IsChannel(int32_t channel)
{
    return channel >= 8192 && channel < 8192 + 16 * 128;
}

int32_t Word(const void* arg, size_t index)
{
    int32_t word;
    std::memcpy(&word, static_cast<const char*>(arg) + index * sizeof word, sizeof word);
    return word;
}

int Invalid()
{
    errno = EINVAL;
    return -1;
}

} // namespace

int Switch::OnRequest(Channel&, unsigned long code, void* arg)
{
    ++mRequests;
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    switch (code) {
    case 0x80084D10UL: { // connect {output, input}
        int32_t output = Word(arg, 0), input = Word(arg, 1);
        if (!IsChannel(output) || !IsChannel(input))
            return Invalid();
        mOutputs[output] = Output{Mode::Fed, input, -1};
        return 0;
    }
    case 0x80084D11UL: { // constant byte {output, value}
        int32_t output = Word(arg, 0), value = Word(arg, 1);
        if (!IsChannel(output) || value < 0 || value > 255)
            return Invalid();
        mOutputs[output] = Output{Mode::Constant, -1, value};
        return 0;
    }
    case 0x80044D03UL: { // disable output
        int32_t output = Word(arg, 0);
        if (!IsChannel(output))
            return Invalid();
        mOutputs[output] = Output{Mode::Disabled, -1, -1};
        return 0;
    }
    default:
        errno = ENOTTY;
        return -1;
    }
}

Switch::Output Switch::At(int output) const
{
    auto it = mOutputs.find(output);
    return it == mOutputs.end() ? Output{} : it->second;
}

int Switch::Source(int output) const
{
    Output o = At(output);
    return o.mode == Mode::Fed ? o.input : -1;
}

bool Switch::IsIdle(int output) const
{
    Output o = At(output);
    return o.mode == Mode::Constant && o.value == 0xD5;
}

std::map<int, int> Switch::Connections() const
{
    std::map<int, int> result;
    for (const auto& [output, state] : mOutputs)
        if (state.mode == Mode::Fed)
            result[output] = state.input;
    return result;
}

} // namespace Standin
