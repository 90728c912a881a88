// Private-profile reading through the platform: the bare file name makes
// it look in the Windows directory.

#include "port/profile.h"

#include <windows.h>

#include <set>
#include <vector>

namespace port {
namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

struct Profile::Impl {
    std::string file_name;
    // The file's section names in lower case, read at the first question.
    mutable bool listed = false;
    mutable std::set<std::string> sections;

    void list_sections() const
    {
        listed = true;
        // The names come as one list of zero-terminated strings; a buffer
        // too small is filled to its size minus two.
        for (DWORD size = 1u << 16; size <= (1u << 26); size *= 4) {
            std::vector<char> names(size);
            DWORD n = GetPrivateProfileSectionNamesA(names.data(), size, file_name.c_str());
            if (n + 2 == size && size < (1u << 26))
                continue;
            for (DWORD i = 0; i < n && names[i];) {
                std::string name(&names[i]);
                i += static_cast<DWORD>(name.size()) + 1;
                sections.insert(lowered(std::move(name)));
            }
            return;
        }
    }
};

Profile::Profile(const std::string& file_name) : impl_(std::make_unique<Impl>())
{
    impl_->file_name = file_name;
}

Profile::Profile() : impl_(std::make_unique<Impl>()) {}

Profile::~Profile() = default;

bool Profile::read_file(const std::string& path, std::string& error)
{
    impl_->file_name.clear();
    impl_->listed = false;
    impl_->sections.clear();
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = "No such file or directory";
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "Is a directory";
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "Permission denied";
        return false;
    }
    CloseHandle(file);
    // A path with a folder makes the platform read that file itself.
    impl_->file_name = path;
    return true;
}

int Profile::get_int(const char* section, const char* key, int default_value) const
{
    if (impl_->file_name.empty())
        return default_value;
    return static_cast<int>(GetPrivateProfileIntA(section, key, default_value, impl_->file_name.c_str()));
}

std::string Profile::get_string(const char* section, const char* key, const char* default_value) const
{
    if (impl_->file_name.empty())
        return std::string(default_value ? default_value : "").substr(0, PROFILE_VALUE_MAX);
    char buffer[PROFILE_VALUE_MAX + 1] = {};
    DWORD n = GetPrivateProfileStringA(section, key, default_value, buffer, sizeof buffer,
                                       impl_->file_name.c_str());
    return std::string(buffer, n);
}

bool Profile::has_section(const char* section) const
{
    if (!impl_->listed && !impl_->file_name.empty())
        impl_->list_sections();
    return impl_->sections.count(lowered(section)) != 0;
}

} // namespace port
