// The configuration reader (POSIX private-profile parser) on any bytes.

#include "port/posix/profile_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string text = port::profile_text::decoded(bytes);
    // Decoding never grows a character beyond what UTF-8 needs for it.
    if (text.size() > size * 2 + 4)
        std::abort();
    port::profile_text::Sections sections = port::profile_text::parse(bytes);
    for (const auto& [name, keys] : sections) {
        if (port::profile_text::lowered(name) != name)
            std::abort();
        for (const auto& [key, value] : keys) {
            if (port::profile_text::lowered(key) != key)
                std::abort();
            (void)port::profile_text::to_int(value, -1);
        }
    }
    return 0;
}
