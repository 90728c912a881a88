#pragma once
// How vantrel --status asks the running headless manager what it is doing,
// without a network port: POSIX, an abstract Unix stream socket named from
// the manager's single-instance name; a connection gets the answer text and
// is closed. The manager answers only its own user and root; the kernel
// tells it who connected. Windows: not offered (headless mode does not run
// there): open() and ask_status() fail.

#include <functional>
#include <string>

namespace port {

class StatusServer {
public:
    StatusServer() = default;
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;
    ~StatusServer();

    // Listens under `name`; false when that fails (another holds it).
    bool open(const std::string& name);
    // Polls readable while somebody waits for an answer; -1 when not open.
    int fd() const { return fd_; }
    // Answers every request waiting, without blocking: a requester of this
    // user or root gets text(), any other `refusal`; then it is closed.
    void answer(const std::function<std::string()>& text, const std::string& refusal);

private:
    int fd_ = -1;
};

// Asks the server under `name`: true with its whole answer, false when
// nobody answers within timeout_ms.
bool ask_status(const std::string& name, std::string& answer, int timeout_ms);

} // namespace port
