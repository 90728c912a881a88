// Windows: no SIGTERM, SIGINT or SIGHUP reach a windowed program, and
// descriptors are not waited on with poll().

#include "port/signals.h"

#include <windows.h>

namespace port {

bool ControlSignals::open()
{
    return false;
}

ControlSignals::~ControlSignals() = default;

int ControlSignals::fd() const
{
    return -1;
}

std::vector<ControlSignal> ControlSignals::take()
{
    return {};
}

void ignore_broken_pipes() {}

int wait_readable(const int*, bool* ready, int count, int timeout_ms)
{
    for (int i = 0; i < count; ++i)
        ready[i] = false;
    Sleep(timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    return 0;
}

} // namespace port
