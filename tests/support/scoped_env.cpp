#include "support/scoped_env.h"

#include <cstdlib>

namespace support {

void set_env(const char* name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value->c_str() : "");
#else
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
#endif
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name)
{
    if (const char* old = std::getenv(name))
        old_ = old;
    set_env(name, value);
}

ScopedEnv::~ScopedEnv()
{
    set_env(name_.c_str(), old_);
}

} // namespace support
