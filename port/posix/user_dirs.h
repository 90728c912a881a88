#pragma once
// Per-user folders shared by the POSIX implementations.

#include <string>

namespace port {

// The user's configuration base folder: $XDG_CONFIG_HOME when it is an
// absolute path, else .config in the home folder ($HOME, else the password
// database's entry).
std::string user_config_home();

} // namespace port
