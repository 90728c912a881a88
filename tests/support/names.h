#pragma once
// Names for the objects a test makes, and words for command lines.

#include <string>

namespace support {

// A name that no other test, in this run or another at the same time,
// uses: the stem, this process's id and a counter.
std::string unique_name(const std::string& stem);

// The word in double quotes, as a command line groups it.
std::string quote(const std::string& word);

} // namespace support
