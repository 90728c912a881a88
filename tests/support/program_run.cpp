#include "support/program_run.h"

#include "support/child.h"

#include <map>
#include <optional>

namespace support {

ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment, int timeout_ms)
{
    std::map<std::string, std::optional<std::string>> env;
    for (const std::string& entry : environment) {
        const size_t eq = entry.find('=');
        if (eq == std::string::npos)
            env[entry] = std::nullopt;
        else
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    ProgramRun run;
    Child child(program, arguments, env);
    if (!child.started())
        return run;
    run.exit_code = child.exitCode(timeout_ms);
    run.ended = run.exit_code >= 0; // otherwise the child is killed as it goes
    run.out = child.out();
    run.err = child.err();
    return run;
}

} // namespace support
