#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace RTPSignalling {

// The dotted text of an IPv4 address in network order. Inline: the codecs
// use it without the loop that the radio controls stand on.
inline std::string DottedAddress(uint32_t address)
{
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

} // namespace RTPSignalling
