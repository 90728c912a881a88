// A stand-in for the manager whose own file is replaced while it runs.
//   serve <marker>   prints "path <module path>", waits for a line on its
//                    standard input, prints "path <module path>" again,
//                    starts a copy of itself by that path ("child
//                    <marker>") and prints "child <exit code>", or
//                    "child not started"
//   child <marker>   writes "running image" and its process name (comm)
//                    to <marker>, exits 7

#include "port/process.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 100;
    const std::string mode = argv[1];
    if (mode == "child") {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f)
            return 101;
        char name[32] = {};
        if (FILE* comm = std::fopen("/proc/self/comm", "rb")) {
            if (!std::fgets(name, sizeof name, comm))
                name[0] = 0;
            std::fclose(comm);
        }
        std::fprintf(f, "running image %s", name);
        std::fclose(f);
        return 7;
    }
    if (mode != "serve")
        return 100;

    std::printf("path %s\n", port::module_path().c_str());
    std::fflush(stdout);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin))
        return 102;
    const std::string path = port::module_path();
    std::printf("path %s\n", path.c_str());

    port::Process child;
    if (!port::Process::start_hidden("\"" + path + "\" child \"" + argv[2] + "\"", child)) {
        std::printf("child not started\n");
        return 0;
    }
    uint32_t code = port::STILL_ACTIVE_CODE;
    if (child.wait(10000) != port::WaitResult::Ended || !child.exit_code(code))
        child.terminate(1);
    std::printf("child %u\n", static_cast<unsigned>(code));
    return 0;
}
