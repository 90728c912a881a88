#pragma once
// The claim that lets one manager run at a time. Windows: a named mutex
// (CreateMutexA) whose existence is the claim. POSIX: an abstract Unix
// socket bound to a name derived from the text (see
// posix/single_instance.cpp); the kernel drops it when its holder ends.

#include <string>

namespace port {

// Machine-wide single-instance claim under `name`. True when this process
// now holds it; the claim lasts until the process ends. False when another
// live process holds it, in any session of the machine (Windows: the mutex
// "Global\<name>"; the session's own "<name>" only where the system has no
// machine-wide namespace).
bool claim_single_instance(const std::string& name);

// Whether some process holds the claim under `name` now; asks without
// claiming it.
bool single_instance_held(const std::string& name);

} // namespace port
