#pragma once
// IP addresses, IPv4 and IPv6 alike, as text and as bytes: a service's
// listen address, its allow list of addresses and prefixes, and the
// address a client comes from. Turning text into bytes and back is the
// system's (inet_pton and inet_ntop on both platforms); the lists and
// their matching are the same everywhere.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace port {

struct IpAddress {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{}; // network order; an IPv4 address in the first four
    bool operator==(const IpAddress&) const = default;
};

// An IPv4 address in four decimal parts ("10.1.2.3") or an IPv6 address in
// any of its written forms ("::1", "2001:db8::7", "::ffff:10.1.2.3"); no
// zone, brackets, port or blanks.
bool parse_ip_address(std::string_view text, IpAddress& out);
// The address's usual text: the dotted quad, the shortest IPv6 form.
std::string format_ip_address(const IpAddress& address);

inline IpAddress ipv4_address(uint32_t host_order)
{
    IpAddress a;
    for (int i = 0; i < 4; ++i)
        a.bytes[i] = static_cast<uint8_t>(host_order >> (24 - 8 * i));
    return a;
}

// An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d, how a socket
// that takes both families names an IPv4 client) as that IPv4 address;
// any other as it is.
inline IpAddress unmapped(const IpAddress& address)
{
    static constexpr uint8_t mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (!address.v6 || !std::equal(mapped_prefix, mapped_prefix + 12, address.bytes.begin()))
        return address;
    IpAddress v4;
    std::copy(address.bytes.begin() + 12, address.bytes.end(), v4.bytes.begin());
    return v4;
}

// The word for the loopback address as a listen address: 127.0.0.1.
inline constexpr std::string_view LOCALHOST_WORD = "localhost";

// A listen address: an address as above, or LOCALHOST_WORD.
inline bool parse_listen_address(std::string_view text, IpAddress& out)
{
    if (text == LOCALHOST_WORD) {
        out = ipv4_address(0x7F000001);
        return true;
    }
    return parse_ip_address(text, out);
}

// An address and how many of its leading bits count: all of them for a
// single address.
struct IpPrefix {
    IpAddress address;
    int length = 0;

    // Whether `a` is of the prefix's family and has its leading bits.
    bool contains(const IpAddress& a) const
    {
        if (a.v6 != address.v6)
            return false;
        for (int bit = 0; bit < length; ++bit) {
            const int byte = bit / 8, mask = 0x80 >> (bit % 8);
            if ((a.bytes[byte] & mask) != (address.bytes[byte] & mask))
                return false;
        }
        return true;
    }
};

// An allow list: addresses and prefixes ("10.1.0.0/16") separated by
// commas, blanks around each allowed. False for an empty list, an empty
// item or one that is no address, and a prefix length beyond the family's
// bits; bits after the prefix are not looked at. out holds the items.
inline bool parse_ip_prefix_list(std::string_view text, std::vector<IpPrefix>& out)
{
    auto trim = [](std::string_view s) {
        const size_t first = s.find_first_not_of(" \t");
        return first == std::string_view::npos ? std::string_view() : s.substr(first, s.find_last_not_of(" \t") - first + 1);
    };
    out.clear();
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view item = trim(text.substr(0, comma));
        const size_t slash = item.find('/');
        IpPrefix prefix;
        if (item.empty() || !parse_ip_address(item.substr(0, slash), prefix.address))
            return false;
        const int bits = prefix.address.v6 ? 128 : 32;
        prefix.length = bits;
        if (slash != std::string_view::npos) {
            const std::string_view digits = item.substr(slash + 1);
            if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string_view::npos)
                return false;
            prefix.length = 0;
            for (char c : digits)
                prefix.length = prefix.length * 10 + (c - '0');
            if (prefix.length > bits)
                return false;
        }
        // An IPv4 address written in its IPv6 form stands for the IPv4 one,
        // as the clients it is compared with do.
        if (prefix.address.v6 && prefix.length >= 96 && !unmapped(prefix.address).v6) {
            prefix.address = unmapped(prefix.address);
            prefix.length -= 96;
        }
        out.push_back(prefix);
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

// Whether a client's address is in the list: an IPv4 client that an IPv6
// socket names as ::ffff:a.b.c.d counts as the IPv4 address it is, which
// only IPv4 items (or their IPv6 form, ::ffff:a.b.c.d/96 and longer) take.
inline bool prefix_list_contains(const std::vector<IpPrefix>& list, const IpAddress& address)
{
    const IpAddress client = unmapped(address);
    for (const IpPrefix& prefix : list)
        if (prefix.contains(client))
            return true;
    return false;
}

} // namespace port
