#pragma once
// How a command line given as one string becomes the argument words of a
// new process, by the Windows rules (see process.cpp).

#include <string>
#include <vector>

namespace port {

std::vector<std::string> split_command_line(const std::string& s);

} // namespace port
