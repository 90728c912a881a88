// The status report datagram as the manager's receiver checks it.

#include "port/posix/report_datagram.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the datagram's size, so that a read past it is seen.
    std::vector<char> datagram(data, data + size);
    for (bool truncated : {false, true}) {
        uint32_t process_id = 0;
        const char* text = nullptr;
        bool ok = port::report_datagram::parse(datagram.data(), datagram.size(), truncated, process_id, text);
        if (!ok)
            continue;
        if (truncated || !text || text < datagram.data() || text >= datagram.data() + datagram.size())
            std::abort();
        // The text ends inside the datagram.
        if (std::strlen(text) >= static_cast<size_t>(datagram.data() + datagram.size() - text))
            std::abort();
    }
    return 0;
}
