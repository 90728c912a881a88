#pragma once
// A program run as a child of the test on Linux, with its standard output
// and standard error collected, signals sent to it and its end awaited
// with a deadline. Killed and reaped with the object if still running.

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace support {

class Child {
public:
    // Starts `program` with `args` (after the program's name) and this
    // process's environment, changed by `env` (a value of nothing removes
    // the variable). Standard input is /dev/null. With ownGroup it leads a
    // process group of its own, as a terminal's foreground job does.
    Child(const std::string& program, const std::vector<std::string>& args,
          const std::map<std::string, std::optional<std::string>>& env = {}, bool ownGroup = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // What it has written so far to standard error and standard output
    // (reads what is waiting, without blocking).
    const std::string& err();
    const std::string& out();
    // Waits until its standard error holds `text`, at most timeout_ms.
    bool waitForErr(const std::string& text, int timeout_ms = 20000);
    // Occurrences of `text` in its standard error so far.
    int countErr(const std::string& text);

    // Stops reading its standard error: what it writes there next fails
    // with a broken pipe.
    void closeErr();

    bool signal(int sig);
    // Sends sig to its whole process group (see ownGroup), as a terminal
    // sends Ctrl+C or a hang-up to its foreground job.
    bool signalGroup(int sig);
    // Its exit code once it has ended within timeout_ms; -1 when it is still
    // running then, or 128 + the signal that ended it.
    int exitCode(int timeout_ms = 20000);

private:
    void drain();

    pid_t pid_ = -1;
    int errFd_ = -1;
    int outFd_ = -1;
    std::string err_;
    std::string out_;
};

} // namespace support
