// The single-instance claim on Windows: a named mutex.

#include "port/single_instance.h"

#include <windows.h>

namespace port {

bool claim_single_instance(const std::string& name)
{
    // Owned from the start; it is never waited on, only its existence
    // counts.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
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
