#pragma once
// The one entry point for encoding and decoding whole values.
//
//   ASN1::CoderEnv env;                      // aligned PER unless told otherwise
//   std::vector<char> octets;
//   if (ASN1::encode(message, &env, std::back_inserter(octets))) send(octets);
//   if (!ASN1::decode(first, last, &env, message, true)) reject();

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <loki/AssocVector.h>

#include "asn1/asn1.h"
#include "asn1/ber_encoder.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

namespace ASN1 {

class Module;

class CoderEnv {
public:
    enum EncodingRules { avn = 0, ber = 1, per_Aligned = 2 };

    struct StringListeralCmp {
        using first_argument_type = char const*;
        using second_argument_type = char const*;
        using result_type = bool;
        bool operator()(char const* a, char const* b) const;
    };

    CoderEnv() = default;

    void set_encodingRule(EncodingRules rule) { encodingRule = rule; }
    EncodingRules get_encodingRule() const { return encodingRule; }

    // Writes the value's octets to `out`; a value that cannot be encoded
    // writes nothing and gives false.
    template <class OutputIterator>
    bool encode(AbstractData const& value, OutputIterator out)
    {
        switch (encodingRule) {
        case per_Aligned:
            return encodePER(value, out);
        case ber:
            return encodeBER(value, out);
        case avn:
            return encodeAVN(value, out);
        default:
            return false;
        }
    }

    // The link's own case: octets appended straight to a vector.
    bool encodePER(AbstractData const& value, std::back_insert_iterator<std::vector<char>> out)
    {
        return appendPER(value, Container(out).get());
    }

    template <class OutputIterator>
    bool encodePER(AbstractData const& value, OutputIterator out)
    {
        std::vector<char> octets;
        return encodePER(value, octets) && copyOut(octets, out);
    }

    template <class OutputIterator>
    bool encodeBER(AbstractData const& value, OutputIterator out)
    {
        std::vector<char> octets;
        return encodeBER(value, octets) && copyOut(octets, out);
    }

    template <class OutputIterator>
    bool encodeAVN(AbstractData const& value, OutputIterator out)
    {
        std::string text;
        return encodeAVN(value, text) && copyOut(text, out);
    }

    // Aligned PER into `octets` (replaced): the complete encoding of the value,
    // at least one octet.
    bool encodePER(AbstractData const& value, std::vector<char>& octets);
    // BER into `octets` (replaced).
    bool encodeBER(AbstractData const& value, std::vector<char>& octets);
    bool encodeAVN(AbstractData const& value, std::string& text);
    // Aligned PER after the present octets of `octets`; on failure they are
    // left as they were.
    bool appendPER(AbstractData const& value, std::vector<char>& octets);

    // Fills `value` from the start of [first, last); octets left after the
    // value are ignored. `noEnv` keeps the environment from the decoders of
    // nested open types.
    bool decode(char const* first, char const* last, AbstractData& value, bool noEnv = true);

private:
    template <class Octets, class OutputIterator>
    static bool copyOut(Octets const& octets, OutputIterator out)
    {
        for (char c : octets)
            *out++ = c;
        return true;
    }

    // The vector behind a back-insert iterator.
    struct Container : std::back_insert_iterator<std::vector<char>> {
        explicit Container(std::back_insert_iterator<std::vector<char>> it) : back_insert_iterator(it) {}
        std::vector<char>& get() const { return *container; }
    };

    EncodingRules encodingRule = per_Aligned;
    Loki::AssocVector<char const*, Module*, StringListeralCmp> modules;
};

template <class OutputIterator>
bool encode(AbstractData const& value, CoderEnv* env, OutputIterator out)
{
    return env->encode(value, out);
}

template <class InputPointer>
bool decode(InputPointer first, InputPointer last, CoderEnv* env, AbstractData& value, bool noEnv = true)
{
    return env->decode(first, last, value, noEnv);
}

} // namespace ASN1
