#pragma once
// Value-notation parser: reads back the text the printer (avn_encoder.h)
// writes, escaped strings and both BMPString forms included.
//
//   std::istringstream in("{\n  id 5,\n  colour red\n}");
//   in >> record;          // failbit when the text does not fit the type
//   record.setFromValueNotation(text);

#include <istream>
#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace ASN1 {

// Blank and line feed: the characters dropped from a bit or octet string.
bool is_space_or_newline(char c);

std::istream& operator>>(std::istream& strm, AbstractData& value);

class AVNDecoder : public Visitor {
public:
    AVNDecoder(std::istream& strm, CoderEnv* env);

protected:
    ASN1_VISITOR_ENTRIES;
    bool do_visit(IntegerWithNamedNumber& v) override;
    int preVisitExtensionRoots(SEQUENCE& v) override;
    int visitExtensionRoot(SEQUENCE& v, int index, int optionalId) override;
    int visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) override;
    bool visitUnknownExtensions(SEQUENCE& v) override;

private:
    int skipSpace(); // the next character, not taken; EOF at the end
    bool readChar(char& c);
    bool expect(char c);
    // Characters up to white space, a comma or a closing brace.
    bool readWord(std::string& word);
    bool readLetters(std::string& word);
    bool readNumber(long long& n);
    bool readString(std::string& text); // quoted, escapes undone
    // 'digits'B or 'digits'H: the octets and the number of digits.
    bool readDigitString(std::vector<char>& octets, unsigned& digits, bool& hex);
    int field(SEQUENCE& v, int index, int optionalId);

    std::istream& strm;
    // Name of the next field in the text, per SEQUENCE being read.
    std::vector<std::string> pendingNames;
};

} // namespace ASN1
