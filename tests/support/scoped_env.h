#pragma once
// Environment variables for the life of an object.

#include <optional>
#include <string>

namespace support {

// Sets the variable, or removes it when there is no value.
void set_env(const char* name, const std::optional<std::string>& value);

// Sets a variable (or removes it) and puts back what was there before.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace support
