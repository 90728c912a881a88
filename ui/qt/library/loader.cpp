// The Linux executable's manager start-up: it loads the window library,
// vantrel-ui.so, and runs its entry. Qt and everything it needs come in
// with the library, so a worker, which never gets here, maps none of it.

#include "ui/manager_startup.h"
#include "ui/qt/library/window_library.h"

#include "port/process.h"
#include "port/shared_library.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& text)
{
    std::fprintf(stderr, "vantrel: %s\n", text.c_str());
    std::exit(window_library::EXIT_NOT_LOADED);
}

// Beside the executable, then in ../lib/vantrel/ from it: the first place
// that has the file. Empty when neither has.
fs::path findLibrary(const fs::path& folder)
{
    for (const fs::path& place : {folder, (folder / window_library::INSTALLED_FOLDER).lexically_normal()}) {
        std::error_code error;
        fs::path candidate = place / window_library::FILE_NAME;
        if (fs::exists(candidate, error))
            return candidate;
    }
    return {};
}

} // namespace

int managerStartup(int argc, char** argv)
{
    const std::string program = port::module_path();
    if (program.empty())
        fail("cannot find the manager window: the program's own path is unknown");
    const fs::path folder = fs::path(program).parent_path();
    const fs::path path = findLibrary(folder);
    if (path.empty())
        fail("cannot find the manager window's library " + std::string(window_library::FILE_NAME) + " in "
             + folder.string() + " or " + (folder / window_library::INSTALLED_FOLDER).lexically_normal().string());

    port::SharedLibrary library = port::SharedLibrary::open(path.string());
    if (!library.loaded())
        fail("cannot load the manager window's library: " + library.error());
    auto entry = reinterpret_cast<decltype(&vantrel_window_main)>(library.symbol(window_library::ENTRY));
    if (!entry)
        fail(path.string() + " is not the manager window's library: " + library.error());
    return entry(argc, argv);
}
