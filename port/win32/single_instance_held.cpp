// Whether another process holds the single-instance claim on Windows: the
// claim's mutex exists, in the machine-wide namespace or the session's own.

#include "port/single_instance.h"

#include <windows.h>

namespace port {

bool single_instance_held(const std::string& name)
{
    for (const std::string& full : {"Global\\" + name, name}) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, full.c_str());
        if (mutex) {
            CloseHandle(mutex);
            return true;
        }
        // Made under another account, which keeps this one out.
        if (GetLastError() == ERROR_ACCESS_DENIED)
            return true;
    }
    return false;
}

} // namespace port
