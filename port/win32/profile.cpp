// Private-profile reading through the platform: the bare file name makes
// it look in the Windows directory.

#include "port/profile.h"

#include <windows.h>

namespace port {

struct Profile::Impl {
    std::string file_name;
};

Profile::Profile(const std::string& file_name) : impl_(std::make_unique<Impl>())
{
    impl_->file_name = file_name;
}

Profile::~Profile() = default;

int Profile::get_int(const char* section, const char* key, int default_value) const
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, default_value, impl_->file_name.c_str()));
}

std::string Profile::get_string(const char* section, const char* key, const char* default_value) const
{
    char buffer[PROFILE_VALUE_MAX + 1] = {};
    DWORD n = GetPrivateProfileStringA(section, key, default_value, buffer, sizeof buffer,
                                       impl_->file_name.c_str());
    return std::string(buffer, n);
}

} // namespace port
