#include "support/program_run.h"

#include "support/deadline.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

// Both ends close on exec; the child moves its end onto a standard
// descriptor.
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe()
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) == 0) {
            read = ends[0];
            write = ends[1];
        }
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeRead()
    {
        if (read >= 0)
            ::close(read);
        read = -1;
    }
    void closeWrite()
    {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
};

} // namespace

ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment, int timeout_ms)
{
    ProgramRun run;
    Pipe out, err;
    if (out.read < 0 || err.read < 0)
        return run;
    // Everything the child needs is made before fork: after it, only calls
    // that are safe there.
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_words;
    for (char** entry = environ; *entry; ++entry) {
        std::string word = *entry;
        std::string name = word.substr(0, word.find('='));
        bool changed = false;
        for (const std::string& change : environment)
            changed = changed || change.substr(0, change.find('=')) == name;
        if (!changed)
            env_words.push_back(word);
    }
    for (const std::string& change : environment)
        if (change.find('=') != std::string::npos)
            env_words.push_back(change);
    std::vector<char*> envp;
    for (std::string& word : env_words)
        envp.push_back(word.data());
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        return run;
    if (pid == 0) {
        int nothing = ::open("/dev/null", O_RDONLY);
        if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(out.write, 1) < 0 || dup2(err.write, 2) < 0)
            _exit(127);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    out.closeWrite();
    err.closeWrite();

    // Read both until the program closes them, then reap it.
    const Deadline deadline(timeout_ms);
    bool killed = false;
    while (out.read >= 0 || err.read >= 0) {
        if (deadline.expired()) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
        int ready = poll(fds, 2, deadline.remaining_ms());
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Pipe& pipe = i == 0 ? out : err;
            char buffer[4096];
            ssize_t n = ::read(pipe.read, buffer, sizeof buffer);
            if (n > 0)
                (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                pipe.closeRead();
        }
    }
    int status = 0;
    // A program that closed its output can still take a moment to end.
    while (!killed) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            return run;
        if (deadline.expired()) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        poll(nullptr, 0, 5);
    }
    if (killed) {
        waitpid(pid, &status, 0);
        return run;
    }
    run.ended = true;
    if (WIFEXITED(status))
        run.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

} // namespace support
