#pragma once
// The security attributes of the objects that the manager shares with its
// workers (stop events, worker processes).

#include <windows.h>

namespace port {

// On the NT family: a security descriptor with a present but NULL DACL, so
// that every account has full access, and handle inheritance on. Elsewhere
// the defaults (a null pointer).
class OpenSecurity {
public:
    OpenSecurity()
    {
        bool nt_family = (GetVersion() & 0x80000000u) == 0;
        if (!nt_family || !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)
            || !SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE))
            return;
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = TRUE;
        ready_ = true;
    }
    OpenSecurity(const OpenSecurity&) = delete;
    OpenSecurity& operator=(const OpenSecurity&) = delete;

    SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

private:
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

} // namespace port
