#include "support/names.h"

#include "port/process.h"

#include <atomic>

namespace support {

std::string unique_name(const std::string& stem)
{
    static std::atomic<int> counter{0};
    return "VantrelTest" + stem + std::to_string(port::current_process_id()) + "_" + std::to_string(++counter);
}

std::string quote(const std::string& word)
{
    return "\"" + word + "\"";
}

} // namespace support
