// The status channel on Windows: not offered, as headless mode is not.

#include "port/status_channel.h"

namespace port {

StatusServer::~StatusServer() = default;

bool StatusServer::open(const std::string&)
{
    return false;
}

void StatusServer::answer(const std::function<std::string()>&, const std::string&) {}

bool ask_status(const std::string&, std::string& answer, int)
{
    answer.clear();
    return false;
}

} // namespace port
