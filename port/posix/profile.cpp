// Private-profile reading of the configuration file: parsed once, looked up
// by section and key without regard to letter case.

#include "port/profile.h"

#include "port/config.h"
#include "port/posix/profile_text.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace port {
namespace profile_text {
namespace {

// More than any configuration the manager writes; a file beyond this (a
// link to a device, say) is read no further.
constexpr size_t MAX_FILE_BYTES = 64u << 20;

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string trimmed(std::string_view text, size_t begin, size_t end)
{
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

void append_utf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string from_utf16(std::string_view bytes, bool big_endian)
{
    auto unit = [&](size_t i) {
        auto a = static_cast<uint8_t>(bytes[i]);
        auto b = static_cast<uint8_t>(bytes[i + 1]);
        return static_cast<uint32_t>(big_endian ? (a << 8) | b : (b << 8) | a);
    };
    std::string out;
    out.reserve(bytes.size() / 2);
    const size_t units = bytes.size() / 2;
    for (size_t k = 0; k < units; ++k) {
        uint32_t code = unit(2 * k);
        if (code >= 0xD800 && code < 0xDC00 && k + 1 < units) {
            uint32_t low = unit(2 * (k + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++k;
            }
        }
        if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        append_utf8(out, code);
    }
    return out;
}

} // namespace

std::string lowered(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string decoded(std::string_view bytes)
{
    // Byte-order marks, as editors on Windows leave them, are no text.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return std::string(bytes.substr(3));
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return from_utf16(bytes.substr(2), false);
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return from_utf16(bytes.substr(2), true);
    return std::string(bytes);
}

Sections parse(std::string_view bytes)
{
    const std::string text = decoded(bytes);
    Sections sections;
    Keys* current = nullptr;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + begin, end - begin);
        begin = end + 1;

        std::string content = trimmed(line, 0, line.size());
        if (content.empty() || content[0] == ';' || content[0] == '#')
            continue;
        if (content[0] == '[') {
            size_t close = content.find(']');
            std::string name = lowered(trimmed(content, 1, close == std::string::npos ? content.size() : close));
            // A repeated section adds nothing: the first one counts.
            auto [it, fresh] = sections.try_emplace(name);
            current = fresh ? &it->second : nullptr;
            continue;
        }
        if (!current)
            continue;
        size_t equals = content.find('=');
        std::string key = lowered(trimmed(content, 0, equals == std::string::npos ? content.size() : equals));
        std::string value = equals == std::string::npos ? "" : trimmed(content, equals + 1, content.size());
        current->emplace(std::move(key), std::move(value));
    }
    return sections;
}

int to_int(const std::string& value, int default_value)
{
    if (value.empty())
        return default_value;
    const char* p = value.c_str();
    while (blank(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    uint32_t result = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        result = result * 10 + static_cast<uint32_t>(*p - '0');
    return static_cast<int>(negative ? 0u - result : result);
}

} // namespace profile_text

struct Profile::Impl {
    profile_text::Sections sections;

    const std::string* find(const char* section, const char* key) const
    {
        auto s = sections.find(profile_text::lowered(section));
        if (s == sections.end())
            return nullptr;
        auto k = s->second.find(profile_text::lowered(key));
        return k == s->second.end() ? nullptr : &k->second;
    }
};

Profile::Profile(const std::string& file_name) : impl_(std::make_unique<Impl>())
{
    std::ifstream in(config_read_path(file_name), std::ios::binary);
    std::string bytes;
    char chunk[65536];
    while (in && bytes.size() < profile_text::MAX_FILE_BYTES) {
        in.read(chunk, sizeof chunk);
        bytes.append(chunk, static_cast<size_t>(in.gcount()));
    }
    impl_->sections = profile_text::parse(bytes);
}

Profile::Profile() : impl_(std::make_unique<Impl>()) {}

Profile::~Profile() = default;

bool Profile::read_file(const std::string& path, std::string& error)
{
    impl_->sections.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    std::string bytes;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        error = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        ok = false;
        error = S_ISDIR(st.st_mode) ? "Is a directory" : "Not a regular file";
    } else if (static_cast<unsigned long long>(st.st_size) > profile_text::MAX_FILE_BYTES) {
        ok = false;
        error = "File too large";
    }
    char chunk[65536];
    while (ok) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            ok = false;
        } else if (bytes.size() + static_cast<size_t>(n) > profile_text::MAX_FILE_BYTES) {
            error = "File too large";
            ok = false;
        } else {
            bytes.append(chunk, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    if (ok)
        impl_->sections = profile_text::parse(bytes);
    return ok;
}

std::string Profile::get_string(const char* section, const char* key, const char* default_value) const
{
    const std::string* value = impl_->find(section, key);
    std::string result = value ? *value : (default_value ? default_value : "");
    if (result.size() > static_cast<size_t>(PROFILE_VALUE_MAX))
        result.resize(PROFILE_VALUE_MAX);
    return result;
}

int Profile::get_int(const char* section, const char* key, int default_value) const
{
    const std::string* value = impl_->find(section, key);
    return value ? profile_text::to_int(*value, default_value) : default_value;
}

bool Profile::has_section(const char* section) const
{
    return impl_->sections.count(profile_text::lowered(section)) != 0;
}

} // namespace port
