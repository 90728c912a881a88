#pragma once
// Pseudo-terminals standing in for boards, and a device-map folder that
// decides which COM names exist.

#include "test_support.h"

#include "port/report.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

using Clock = std::chrono::steady_clock;

inline long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal: the test holds the master side, a worker opens the
// slave as its serial port.
class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(grantpt(master_), 0);
        EXPECT_EQ(unlockpt(master_), 0);
        slave_ = ptsname(master_);
        int slave = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw {};
        if (slave >= 0 && tcgetattr(slave, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(slave, TCSANOW, &raw);
        }
        if (slave >= 0)
            ::close(slave);
    }
    ~Pty() { ::close(master_); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slave() const { return slave_; }
    int master() const { return master_; }

    // Reads until `count` bytes have come or the deadline passes.
    std::string read(size_t count, int timeoutMs)
    {
        std::string data;
        auto start = Clock::now();
        while (data.size() < count && millisecondsSince(start) < timeoutMs) {
            pollfd p {master_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN))
                continue;
            char buffer[256];
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                data.append(buffer, static_cast<size_t>(n));
        }
        return data;
    }

private:
    int master_ = -1;
    std::string slave_;
};

// The device-map folder: COM1 to COM96 stand for nothing unless a test maps
// them, so the machine's own serial ports never show.
class DeviceMap {
public:
    DeviceMap() : env_("VANTREL_DEVICE_DIR", dir_.path().string())
    {
        for (int n = 1; n <= 96; ++n)
            map("COM" + std::to_string(n), "/nonexistent/vantrel-device");
    }
    void map(const std::string& name, const std::string& target)
    {
        std::string link = dir_ / name;
        std::error_code ec;
        fs::remove(link, ec);
        fs::create_symlink(target, link);
    }
    std::string path(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    ScopedEnv env_;
};

// A fake front end with a real report endpoint, as the Linux window has.
class ReportingFrontEnd : public FakeFrontEnd {
public:
    ReportingFrontEnd()
    {
        EXPECT_TRUE(receiver.open());
        target = receiver.target();
    }

    // Waits for one report and hands it to the table.
    bool deliverReport(ServiceTable& table, int timeoutMs, bool* matched = nullptr)
    {
        pollfd p {receiver.fd(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        int handled = receiver.dispatch([&](uint32_t processId, const char* text) {
            bool found = table.onWorkerReport(processId, text);
            if (matched)
                *matched = found;
            return found;
        });
        return handled > 0;
    }

    void deliverPendingReports() override
    {
        if (reportsTo)
            receiver.dispatch([this](uint32_t processId, const char* text) {
                return reportsTo->onWorkerReport(processId, text);
            });
    }

    port::ReportReceiver receiver;
    ServiceTable* reportsTo = nullptr; // where the monitoring pass delivers
};
