// The single-instance claim on Windows: a named mutex in the machine-wide
// namespace, so that a manager in another session (fast user switching, a
// remote session) counts as well; the session's own namespace only where
// the system has no machine-wide one.

#include "port/single_instance.h"

#include <windows.h>

namespace port {

namespace {

enum class Claim { Held, Taken, NoNamespace };

Claim create_owned(const std::string& name)
{
    // Owned from the start; it is never waited on, only its existence
    // counts.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    if (!mutex) {
        // Access denied: the name is held under another account, which
        // keeps this one out of an object it made.
        const DWORD e = GetLastError();
        return e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME || e == ERROR_BAD_PATHNAME ? Claim::NoNamespace
                                                                                                : Claim::Taken;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Claim::Taken;
    }
    // The handle stays open for the life of the process: that is the claim.
    return Claim::Held;
}

} // namespace

bool claim_single_instance(const std::string& name)
{
    const Claim global = create_owned("Global\\" + name);
    if (global != Claim::NoNamespace)
        return global == Claim::Held;
    return create_owned(name) == Claim::Held;
}

} // namespace port
