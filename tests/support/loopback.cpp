#include "support/loopback.h"

#include "support/deadline.h"

#include <algorithm>

namespace support {

uint16_t free_port(const std::function<bool(uint16_t)>& acceptable)
{
    port::Socket refused; // held, so that the next try gets another port
    for (int i = 0; i < 20; ++i) {
        port::Socket s = port::Socket::stream();
        if (!s.valid() || !s.bind(0, 0))
            return 0;
        if (!acceptable || acceptable(s.local_port()))
            return s.local_port();
        refused = std::move(s);
    }
    return 0;
}

port::Socket connect_loopback(uint16_t port, int timeout_ms)
{
    port::Socket s;
    if (wait_until([&] {
            s = port::Socket::stream();
            return s.valid() && s.connect(loopback, port);
        }, timeout_ms, 20))
        return s;
    return {};
}

std::string recv_exactly(port::Socket& socket, size_t n, int timeout_ms)
{
    std::string got;
    const Deadline deadline(timeout_ms);
    while (got.size() < n && !deadline.expired()) {
        if (socket.wait_readable(std::min(deadline.remaining_ms(), 100)) != 1)
            continue;
        char buffer[4096];
        int r = socket.recv(buffer, static_cast<int>(std::min(sizeof buffer, n - got.size())));
        if (r <= 0)
            break;
        got.append(buffer, static_cast<size_t>(r));
    }
    return got;
}

} // namespace support
