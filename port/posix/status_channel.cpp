// The status channel on Linux: an abstract Unix stream socket.

#include "port/status_channel.h"
#include "port/posix/deadline.h"
#include "port/posix/object_name.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace port {

namespace {

// Requests taken by one answer() at most; the rest keeps it readable.
constexpr int ANSWER_TURNS = 16;

socklen_t status_address(const std::string& name, sockaddr_un& addr)
{
    std::string key = "vantrel-status-" + encode_object_name(name);
    key.resize(std::min<size_t>(key.size(), sizeof addr.sun_path - 1));
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, key.data(), key.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
}

} // namespace

StatusServer::~StatusServer()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool StatusServer::open(const std::string& name)
{
    if (fd_ >= 0)
        return true;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    const socklen_t length = status_address(name, addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void StatusServer::answer(const std::function<std::string()>& text, const std::string& refusal)
{
    for (int turn = 0; fd_ >= 0 && turn < ANSWER_TURNS; ++turn) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        const bool trusted = getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0
                             && (peer.uid == geteuid() || peer.uid == 0);
        const std::string reply = trusted ? text() : refusal;
        // Written without waiting: the answer fits the socket's buffer
        // many times over, and a requester that does not read loses only
        // its own answer.
        size_t sent = 0;
        while (sent < reply.size()) {
            const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        ::close(client);
    }
}

bool ask_status(const std::string& name, std::string& answer, int timeout_ms)
{
    answer.clear();
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    const socklen_t length = status_address(name, addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        ::close(fd);
        return false;
    }
    const Deadline deadline(timeout_ms);
    bool ended = false;
    while (!ended) {
        pollfd p{fd, POLLIN, 0};
        if (poll_until(&p, 1, deadline) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            answer.append(buffer, static_cast<size_t>(n));
        else if (n == 0)
            ended = true;
        else if (errno != EINTR)
            break;
    }
    ::close(fd);
    return ended;
}

} // namespace port
