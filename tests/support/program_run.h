#pragma once
// A program run to its end with its output captured, on POSIX.

#include <string>
#include <vector>

namespace support {

struct ProgramRun {
    bool ended = false;  // false: not started, or killed at the deadline
    int exit_code = -1;  // once ended: its exit code, or 128 + the signal that ended it
    std::string out;     // standard output
    std::string err;     // standard error
};

// Runs `program` with `arguments` (its own name not included) and the
// environment changed by `environment` ("NAME=value" sets, "NAME" removes),
// standard input empty. Waits at most timeout_ms, then kills it.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment = {}, int timeout_ms = 20000);

} // namespace support
