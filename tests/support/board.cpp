#include "support/board.h"

#include "support/deadline.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace support {

Board::Board(bool hold_slave)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
        return;
    slave_ = name;
    // The terminal's settings are shared by both sides; raw from the start.
    termios t{};
    if (tcgetattr(master_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }
    if (hold_slave) {
        slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_fd_ < 0)
            slave_.clear();
    }
}

Board::~Board()
{
    close();
}

void Board::close()
{
    if (slave_fd_ >= 0)
        ::close(slave_fd_);
    if (master_ >= 0)
        ::close(master_);
    slave_fd_ = master_ = -1;
}

std::string Board::read(size_t n, int timeout_ms, const std::function<void()>& between)
{
    std::string out;
    const Deadline deadline(timeout_ms);
    char buffer[4096];
    while (out.size() < n) {
        ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - out.size()));
        if (r > 0) {
            out.append(buffer, static_cast<size_t>(r));
            continue;
        }
        if (deadline.expired())
            break;
        if (between)
            between();
        if (r < 0 && errno == EIO) {
            // Nobody holds the terminal: poll would answer at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, std::min(deadline.remaining_ms(), 50));
    }
    return out;
}

bool write_all(int fd, const std::string& data, int timeout_ms)
{
    size_t done = 0;
    const Deadline deadline(timeout_ms);
    while (done < data.size()) {
        // A socket's peer may be gone: no SIGPIPE for that.
        ssize_t w = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (w < 0 && errno == ENOTSOCK)
            w = ::write(fd, data.data() + done, data.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN)
            return false;
        if (deadline.expired())
            return false;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, std::min(deadline.remaining_ms(), 50));
    }
    return true;
}

bool Board::write(const std::string& data, int timeout_ms)
{
    return write_all(master_, data, timeout_ms);
}

bool Board::hung_up() const
{
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

size_t Board::pending() const
{
    int n = 0;
    return ioctl(master_, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

std::vector<LineChange> read_line_log(const std::string& path)
{
    std::vector<LineChange> changes;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        LineChange change{};
        if (!(fields >> change.at_ms >> change.level))
            break;
        if (!(fields >> change.line))
            change.line = "DTR";
        changes.push_back(change);
    }
    return changes;
}

std::vector<DtrChange> read_dtr_log(const std::string& path)
{
    std::vector<DtrChange> changes;
    for (const LineChange& change : read_line_log(path))
        if (change.line == "DTR")
            changes.push_back(change);
    return changes;
}

} // namespace support
