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
    if (encodingRule == ber) {
        BERDecoder decoder(first, last, noEnv ? nullptr : this);
        return value.accept(decoder) && decoder.atEnd();
    }
    if (encodingRule == avn) {
        std::istringstream text(std::string(first, last));
        AVNDecoder decoder(text, nullptr);
        return value.accept(decoder) && (text >> std::ws).eof();
    }
    if (encodingRule != per_Aligned)
        return false;
    PERDecoder decoder(first, last, noEnv ? nullptr : this, true);
    if (!value.accept(decoder))
        return false;
    if (decoder.finished())
        return true;
    // The one-octet encoding of a value of no bits.
    return decoder.getPosition() == 0 && last - first == 1 && *first == 0;
}

} // namespace ASN1
