// Private-profile reading of the configuration file: parsed once, looked up
// by section and key without regard to letter case.

#include "port/profile.h"

#include "port/config.h"

#include <cstdint>
#include <fstream>
#include <unordered_map>

namespace port {
namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string trimmed(const std::string& text, size_t begin, size_t end)
{
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string lowered(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct Section {
    std::unordered_map<std::string, std::string> keys; // lower-case key -> value
};

} // namespace

struct Profile::Impl {
    std::unordered_map<std::string, Section> sections; // lower-case name

    const std::string* find(const char* section, const char* key) const
    {
        auto s = sections.find(lowered(section));
        if (s == sections.end())
            return nullptr;
        auto k = s->second.keys.find(lowered(key));
        return k == s->second.keys.end() ? nullptr : &k->second;
    }
};

Profile::Profile(const std::string& file_name) : impl_(std::make_unique<Impl>())
{
    std::ifstream in(config_read_path(file_name), std::ios::binary);
    std::string line;
    Section* current = nullptr;
    bool first = true;
    while (std::getline(in, line)) {
        // A byte-order mark, as editors on Windows leave one, is no text.
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        first = false;
        std::string text = trimmed(line, 0, line.size());
        if (text.empty() || text[0] == ';' || text[0] == '#')
            continue;
        if (text[0] == '[') {
            size_t close = text.find(']');
            std::string name = lowered(trimmed(text, 1, close == std::string::npos ? text.size() : close));
            // A repeated section adds nothing: the first one counts.
            auto [it, fresh] = impl_->sections.try_emplace(name);
            current = fresh ? &it->second : nullptr;
            continue;
        }
        if (!current)
            continue;
        size_t equals = text.find('=');
        std::string key = lowered(trimmed(text, 0, equals == std::string::npos ? text.size() : equals));
        std::string value = equals == std::string::npos ? "" : trimmed(text, equals + 1, text.size());
        current->keys.emplace(std::move(key), std::move(value));
    }
}

Profile::~Profile() = default;

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
    if (!value || value->empty())
        return default_value;
    const char* p = value->c_str();
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

} // namespace port
