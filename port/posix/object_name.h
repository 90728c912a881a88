#pragma once
// Names of the process-wide objects (named events, the single-instance
// claim) as they appear in the file system or the abstract socket space.

#include <string>

namespace port {

// Keeps letters, digits and "._-"; every other byte becomes %XX, so any
// name maps to one file name and no name reaches outside the folder.
inline std::string encode_object_name(const std::string& name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '_' || c == '-') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace port
