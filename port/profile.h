#pragma once
// Reading the configuration file by the private-profile rules: section and
// key names match without regard to letter case, blanks around keys and
// values are ignored, a text value is cut to 259 characters, and integers
// are decimal (leading blanks, one sign, digits up to the first other
// character; no digits give 0). The first of duplicate sections or keys
// counts. A file that starts with a byte-order mark is read as text: UTF-8
// with the mark skipped, UTF-16 (either byte order) as 8-bit text.
// Windows: GetPrivateProfileStringA and GetPrivateProfileIntA on the bare
// file name, which the platform looks up in the Windows directory.
// POSIX: the file of port::config_read_path, read once (UTF-16 becomes
// UTF-8); lines whose first non-blank character is ';' or '#' are comments.

#include <memory>
#include <string>

namespace port {

inline constexpr int PROFILE_VALUE_MAX = 259;

class Profile {
public:
    // The configuration file named `file_name`; a missing file reads as
    // empty, so every query gives its default.
    explicit Profile(const std::string& file_name);
    // An empty profile, every query giving its default, until read_file.
    Profile();
    ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    int get_int(const char* section, const char* key, int default_value) const;
    std::string get_string(const char* section, const char* key, const char* default_value) const;
    // True when the file has a section of that name, even an empty one.
    bool has_section(const char* section) const;

    // Reads the file at `path` itself, without the lookup that the
    // constructor does. False, with the reason in `error` (e.g. "No such
    // file or directory"), when there is no readable file there; the
    // profile then reads as empty.
    bool read_file(const std::string& path, std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace port
