// The sharing settings' texts as the manager's checks and the worker read
// them: an allow list and a listen address. What is taken must mean the
// same written out again, and each prefix must hold its own address.

#include "port/ip_address.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<port::IpPrefix> list;
    if (port::parse_ip_prefix_list(text, list)) {
        if (list.empty())
            std::abort();
        std::string again;
        for (const port::IpPrefix& prefix : list) {
            if (prefix.length < 0 || prefix.length > (prefix.address.v6 ? 128 : 32) || !prefix.contains(prefix.address))
                std::abort();
            again += (again.empty() ? "" : ", ") + port::format_ip_address(prefix.address) + "/"
                     + std::to_string(prefix.length);
        }
        std::vector<port::IpPrefix> reread;
        if (!port::parse_ip_prefix_list(again, reread) || reread.size() != list.size())
            std::abort();
        for (size_t i = 0; i < list.size(); ++i)
            if (!(reread[i].address == list[i].address) || reread[i].length != list[i].length)
                std::abort();
    }

    port::IpAddress address;
    if (port::parse_listen_address(text, address)) {
        port::IpAddress reread;
        if (!port::parse_ip_address(port::format_ip_address(address), reread) || !(reread == address))
            std::abort();
    }
    return 0;
}
