#pragma once
// Whole files as strings, byte for byte.

#include <optional>
#include <string>

namespace support {

// The file's bytes; empty when it cannot be read.
std::string read_file(const std::string& path);
// The file's bytes, or nothing when it does not exist.
std::optional<std::string> file_text(const std::string& path);
// Replaces the file with these bytes; false when it cannot be written.
bool write_file(const std::string& path, const std::string& bytes);

} // namespace support
