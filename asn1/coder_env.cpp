#include "asn1/coder_env.h"

#include "asn1/avn_decoder.h"
#include "asn1/ber_decoder.h"

#include <cstring>

namespace ASN1 {

bool CoderEnv::StringListeralCmp::operator()(char const* a, char const* b) const
{
    return std::strcmp(a, b) < 0;
}

bool CoderEnv::encodePER(AbstractData const& value, std::vector<char>& octets)
{
    octets.clear();
    return appendPER(value, octets);
}

bool CoderEnv::appendPER(AbstractData const& value, std::vector<char>& octets)
{
    std::size_t const start = octets.size();
    PEREncoder encoder(octets, PEREncoder::Append(), true);
    if (!value.accept(encoder)) {
        octets.resize(start);
        return false;
    }
    if (octets.size() == start)
        octets.push_back(0);
    return true;
}

bool CoderEnv::encodeAVN(AbstractData const& value, std::string& text)
{
    std::ostringstream stream;
    stream << value;
    if (!stream)
        return false;
    text = stream.str();
    return true;
}

bool CoderEnv::encodeBER(AbstractData const& value, std::vector<char>& octets)
{
    BEREncoder encoder(octets);
    if (value.accept(encoder))
        return true;
    octets.clear();
    return false;
}

bool CoderEnv::decode(char const* first, char const* last, AbstractData& value, bool noEnv)
{
    // The value ends where its encoding ends: what follows it is not looked at.
    CoderEnv* const env = noEnv ? nullptr : this;
    switch (encodingRule) {
    case per_Aligned: {
        PERDecoder decoder(first, last, env, true);
        return value.accept(decoder);
    }
    case ber: {
        BERDecoder decoder(first, last, env);
        return value.accept(decoder);
    }
    case avn: {
        std::istringstream text(std::string(first, last));
        AVNDecoder decoder(text, nullptr);
        return value.accept(decoder);
    }
    default:
        return false;
    }
}

} // namespace ASN1
