// Process facilities on Windows: named events, the single-instance mutex and
// hidden worker processes, with the Win32 calls of the same purpose.

#include "port/process.h"

#include <vector>
#include <windows.h>

namespace port {

namespace {

HANDLE as_handle(intptr_t h)
{
    return reinterpret_cast<HANDLE>(h);
}

bool is_handle(intptr_t h)
{
    return h != -1 && h != 0;
}

bool nt_family()
{
    return (GetVersion() & 0x80000000u) == 0;
}

// On the NT family: a security descriptor with a present but NULL DACL, so
// that every account has full access, and handle inheritance on. Elsewhere
// the defaults (a null pointer).
class OpenSecurity {
public:
    OpenSecurity()
    {
        if (!nt_family() || !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)
            || !SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE))
            return;
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = TRUE;
        ready_ = true;
    }
    SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

private:
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

} // namespace

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

bool claim_single_instance(const std::string& name)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!mutex)
        return false; // e.g. the name is held by another account
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    // The handle stays open for the life of the process: that is the claim.
    return true;
}

// ---------------------------------------------------------------------------
// Named event.

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : handle_(other.handle_), owner_(other.owner_), name_(std::move(other.name_))
{
    other.handle_ = -1;
    other.owner_ = false;
}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        owner_ = other.owner_;
        name_ = std::move(other.name_);
        other.handle_ = -1;
        other.owner_ = false;
    }
    return *this;
}

NamedEvent::~NamedEvent()
{
    close();
}

NamedEvent NamedEvent::create(const std::string& name)
{
    NamedEvent event;
    if (name.empty())
        return event;
    OpenSecurity security;
    HANDLE h = CreateEventA(security.get(), TRUE, FALSE, name.c_str());
    if (!h)
        return event;
    event.handle_ = reinterpret_cast<intptr_t>(h);
    event.owner_ = true;
    event.name_ = name;
    return event;
}

NamedEvent NamedEvent::open(const std::string& name)
{
    NamedEvent event;
    if (name.empty())
        return event;
    HANDLE h = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    if (!h)
        return event;
    event.handle_ = reinterpret_cast<intptr_t>(h);
    event.name_ = name;
    return event;
}

bool NamedEvent::valid() const
{
    return is_handle(handle_);
}

bool NamedEvent::set()
{
    return valid() && SetEvent(as_handle(handle_));
}

bool NamedEvent::reset()
{
    return valid() && ResetEvent(as_handle(handle_));
}

bool NamedEvent::is_set() const
{
    return valid() && WaitForSingleObject(as_handle(handle_), 0) == WAIT_OBJECT_0;
}

bool NamedEvent::wait(int timeout_ms) const
{
    return valid()
           && WaitForSingleObject(as_handle(handle_), timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms))
                  == WAIT_OBJECT_0;
}

void NamedEvent::close()
{
    // The system removes the object with its last handle.
    if (valid())
        CloseHandle(as_handle(handle_));
    handle_ = -1;
    owner_ = false;
    name_.clear();
}

// ---------------------------------------------------------------------------
// Child processes.

Process::Process(Process&& other) noexcept
{
    *this = std::move(other);
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        close();
        process_ = other.process_;
        thread_ = other.thread_;
        process_id_ = other.process_id_;
        thread_id_ = other.thread_id_;
        other.process_ = -1;
        other.thread_ = -1;
        other.process_id_ = 0;
        other.thread_id_ = 0;
    }
    return *this;
}

Process::~Process()
{
    close();
}

bool Process::start_hidden(const std::string& command_line, Process& out)
{
    if (command_line.empty())
        return false;
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
    BOOL ok = CreateProcessA(nullptr, line.data(), security.get(), nullptr, TRUE, 0, nullptr, nullptr, &startup,
                             &info);
    SetErrorMode(old_mode);
    if (!ok)
        return false;

    Process started;
    started.process_ = reinterpret_cast<intptr_t>(info.hProcess);
    started.thread_ = reinterpret_cast<intptr_t>(info.hThread);
    started.process_id_ = info.dwProcessId;
    started.thread_id_ = info.dwThreadId;
    out = std::move(started);
    return true;
}

bool Process::valid() const
{
    return is_handle(process_);
}

bool Process::exit_code(uint32_t& code)
{
    DWORD value = 0;
    if (!valid() || !GetExitCodeProcess(as_handle(process_), &value))
        return false;
    code = value;
    return true;
}

WaitResult Process::wait(int timeout_ms)
{
    if (!valid())
        return WaitResult::Failed;
    switch (WaitForSingleObject(as_handle(process_), timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms))) {
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
        TerminateProcess(as_handle(process_), exit_code);
}

void Process::close()
{
    if (is_handle(thread_))
        CloseHandle(as_handle(thread_));
    if (is_handle(process_))
        CloseHandle(as_handle(process_));
    process_ = -1;
    thread_ = -1;
    process_id_ = 0;
    thread_id_ = 0;
}

} // namespace port
