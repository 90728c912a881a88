// The single-instance claim on Windows: a named mutex.

#include "port/process.h"

#include <windows.h>

namespace port {

bool claim_single_instance(const std::string& name)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!mutex)
        return false; // e.g. the name is held by another account
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    // The handle stays open for the life of the process: that is the claim.
    return true;
}

} // namespace port
