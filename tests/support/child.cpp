#include "support/child.h"

#include "support/deadline.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::optional<std::string>>& env, bool ownGroup)
{
    int err[2], out[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        ::close(err[0]);
        ::close(err[1]);
        return;
    }
    // Everything the child needs is made before the fork: a test with
    // threads may have the allocator locked at that moment.
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!env.count(text.substr(0, text.find('='))))
            environment.push_back(text);
    }
    for (const auto& [name, value] : env)
        if (value)
            environment.push_back(name + "=" + *value);
    std::vector<char*> argv, envp;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        if (ownGroup)
            setpgid(0, 0);
        int null = ::open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (ownGroup && pid_ > 0)
        setpgid(pid_, pid_); // the child does the same: whichever runs first
    ::close(err[1]);
    ::close(out[1]);
    errFd_ = err[0];
    outFd_ = out[0];
    fcntl(errFd_, F_SETFL, O_NONBLOCK);
    fcntl(outFd_, F_SETFL, O_NONBLOCK);
}

Child::~Child()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (errFd_ >= 0)
        ::close(errFd_);
    if (outFd_ >= 0)
        ::close(outFd_);
}

void Child::drain()
{
    for (auto [fd, text] : {std::pair{errFd_, &err_}, std::pair{outFd_, &out_}}) {
        if (fd < 0)
            continue;
        char chunk[4096];
        for (int turn = 0; turn < 1024; ++turn) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            text->append(chunk, static_cast<size_t>(n));
        }
    }
}

const std::string& Child::err()
{
    drain();
    return err_;
}

const std::string& Child::out()
{
    drain();
    return out_;
}

bool Child::waitForErr(const std::string& text, int timeout_ms)
{
    return wait_until([&] { return err().find(text) != std::string::npos; }, timeout_ms);
}

int Child::countErr(const std::string& text)
{
    int n = 0;
    const std::string& all = err();
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
        ++n;
    return n;
}

void Child::closeErr()
{
    drain();
    if (errFd_ >= 0)
        ::close(errFd_);
    errFd_ = -1;
}

bool Child::signal(int sig)
{
    return pid_ > 0 && kill(pid_, sig) == 0;
}

bool Child::signalGroup(int sig)
{
    return pid_ > 0 && kill(-pid_, sig) == 0;
}

int Child::exitCode(int timeout_ms)
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    // Its output is taken while it runs, so a full pipe never holds it up.
    if (!wait_until(
            [&] {
                drain();
                return waitpid(pid_, &status, WNOHANG) == pid_;
            },
            timeout_ms))
        return -1;
    pid_ = -1;
    drain();
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace support
