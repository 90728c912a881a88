#pragma once
// The POSIX private-profile reader's parsing, apart from the file, so that
// it can be driven from bytes in memory.

#include <string>
#include <string_view>
#include <unordered_map>

namespace port::profile_text {

// Lower-case key -> value, trimmed.
using Keys = std::unordered_map<std::string, std::string>;
// Lower-case section name -> its keys; the first of equal sections counts.
using Sections = std::unordered_map<std::string, Keys>;

// The file's bytes as the 8-bit text the parser reads: a UTF-8 byte-order
// mark is dropped, UTF-16 with a byte-order mark (little or big endian)
// becomes UTF-8 (a lone surrogate becomes U+FFFD, an odd last byte is
// dropped); anything else is taken as it is.
std::string decoded(std::string_view bytes);

// The sections and keys of the file `bytes` (decoded first).
Sections parse(std::string_view bytes);

// An integer value by the profile rules: leading blanks, one sign, decimal
// digits up to the first other character (wrapping at 32 bits); no digits
// give 0. An empty value gives `default_value`.
int to_int(const std::string& value, int default_value);

std::string lowered(std::string text);

} // namespace port::profile_text
