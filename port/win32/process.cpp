// Child processes on Windows: hidden worker processes started with
// CreateProcessA, and the facts of the running process.

#include "port/process.h"
#include "port/win32/open_security.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <windows.h>

namespace port {

struct Process::State {
    HANDLE process; // never null: a state exists only for a started process
    HANDLE thread;
};

void Process::StateDeleter::operator()(State* state) const noexcept
{
    delete state;
}

std::string module_path()
{
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

uint32_t current_process_id()
{
    return GetCurrentProcessId();
}

Process::~Process()
{
    close();
}

namespace {

// This process's environment block changed by `environment`: its strings
// without the variables given (compared in any letter case, as Windows
// names are), then those of them that have a value; each string ends in a
// zero byte, the block in one more.
std::vector<char> environment_block(const Process::Environment& environment)
{
    std::vector<char> block;
    if (char* own = GetEnvironmentStringsA()) {
        for (const char* entry = own; *entry; entry += std::strlen(entry) + 1) {
            const size_t length = std::strlen(entry);
            const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& change) {
                const std::string& name = change.first;
                return length > name.size() && entry[name.size()] == '='
                       && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry, static_cast<int>(name.size()),
                                         name.c_str(), static_cast<int>(name.size()))
                              == CSTR_EQUAL;
            });
            if (!replaced)
                block.insert(block.end(), entry, entry + length + 1);
        }
        FreeEnvironmentStringsA(own);
    }
    for (const auto& [name, value] : environment) {
        if (value.empty())
            continue;
        const std::string entry = name + "=" + value;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    if (block.empty())
        block.push_back('\0');
    block.push_back('\0');
    return block;
}

} // namespace

bool Process::start_hidden(const std::string& command_line, Process& out, const Environment& environment)
{
    if (command_line.empty())
        return false;
    std::vector<char> block;
    if (!environment.empty())
        block = environment_block(environment);
    OpenSecurity security;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK | STARTF_USESTDHANDLES; // 0x181
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);

    // CreateProcessA may write into the command line.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    PROCESS_INFORMATION info{};
    UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    BOOL ok = CreateProcessA(nullptr, line.data(), security.get(), nullptr, TRUE, 0,
                             block.empty() ? nullptr : block.data(), nullptr, &startup, &info);
    SetErrorMode(old_mode);
    if (!ok)
        return false;

    Process started;
    started.state_.reset(new State{info.hProcess, info.hThread});
    started.process_id_ = info.dwProcessId;
    started.thread_id_ = info.dwThreadId;
    out = std::move(started);
    return true;
}

bool Process::exit_code(uint32_t& code)
{
    DWORD value = 0;
    if (!valid() || !GetExitCodeProcess(state_->process, &value))
        return false;
    code = value;
    return true;
}

WaitResult Process::wait(int timeout_ms)
{
    if (!valid())
        return WaitResult::Failed;
    switch (WaitForSingleObject(state_->process, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms))) {
    case WAIT_OBJECT_0:
        return WaitResult::Ended;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

void Process::terminate(uint32_t exit_code)
{
    if (valid())
        TerminateProcess(state_->process, exit_code);
}

void Process::close()
{
    if (state_) {
        if (state_->thread)
            CloseHandle(state_->thread);
        CloseHandle(state_->process);
        state_.reset();
    }
    process_id_ = 0;
    thread_id_ = 0;
}

} // namespace port
