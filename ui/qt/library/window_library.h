#pragma once
// The Linux manager window is a library of its own, vantrel-ui.so, that only
// the manager mode loads: a worker never maps Qt. The executable looks for
// it beside itself (a build tree, `make run`), then in ../lib/vantrel/ (the
// installed /usr/bin/vantrel finds /usr/lib/vantrel/vantrel-ui.so).

// The library's one exported function: the manager's start-up
// (managerStartup) run to its end; the manager's exit code.
extern "C" int vantrel_window_main(int argc, char** argv);

namespace window_library {

inline constexpr const char* FILE_NAME = "vantrel-ui.so";
// Below the executable's folder, the installed place.
inline constexpr const char* INSTALLED_FOLDER = "../lib/vantrel";
inline constexpr const char* ENTRY = "vantrel_window_main";

// Exit code when the library cannot be found or loaded.
inline constexpr int EXIT_NOT_LOADED = 3;

} // namespace window_library
