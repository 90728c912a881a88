// The command-line splitter that turns the worker's command line into the
// new process's argument words.

#include "port/posix/command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string line(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words = port::split_command_line(line);
    // Words only lose characters (quotes, escaping backslashes, blanks).
    size_t total = 0;
    for (const std::string& w : words)
        total += w.size();
    if (total > size || words.size() > size)
        std::abort();
    return 0;
}
