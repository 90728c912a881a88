// IP address texts: inet_pton and inet_ntop, the same on both platforms
// (ws2_32's need no started socket library).

#include "port/ip_address.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace port {

bool parse_ip_address(std::string_view text, IpAddress& out)
{
    // Longer than any address's text: not one.
    char buffer[INET6_ADDRSTRLEN + 1];
    if (text.empty() || text.size() >= sizeof buffer || text.find('\0') != std::string_view::npos)
        return false;
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    IpAddress address;
    if (inet_pton(AF_INET, buffer, address.bytes.data()) == 1) {
        out = address;
        return true;
    }
    address.v6 = true;
    if (inet_pton(AF_INET6, buffer, address.bytes.data()) != 1)
        return false;
    out = address;
    return true;
}

std::string format_ip_address(const IpAddress& address)
{
    char buffer[INET6_ADDRSTRLEN];
    // MinGW's inet_ntop takes a pointer to non-const.
    if (!inet_ntop(address.v6 ? AF_INET6 : AF_INET, const_cast<uint8_t*>(address.bytes.data()), buffer, sizeof buffer))
        return {};
    return buffer;
}

} // namespace port
