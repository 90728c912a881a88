#pragma once
// The board a serial port leads to, on Linux: the master side of a
// pseudo-terminal in raw mode, non-blocking. The program under test opens
// the other side (slave()) as its serial port, usually through the device
// map.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace support {

// Writes all of data to a non-blocking descriptor (a socket or a terminal),
// waiting while it takes nothing; false on an error or when the time is up.
bool write_all(int fd, const std::string& data, int timeout_ms);

class Board {
public:
    // With hold_slave the board keeps the other side open as well, so that
    // reads see no hang-up before the program under test has opened it
    // (and hung_up() never answers true).
    explicit Board(bool hold_slave = false);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    bool valid() const { return master_ >= 0 && !slave_.empty(); }
    int fd() const { return master_; }
    // The terminal's other side, e.g. /dev/pts/7.
    const std::string& slave() const { return slave_; }

    // Exactly n bytes, or fewer when the time is up. `between` runs each
    // time the board has waited without a byte (an event loop, say).
    std::string read(size_t n, int timeout_ms, const std::function<void()>& between = {});
    // All of data within the time.
    bool write(const std::string& data, int timeout_ms = 10000);
    // True once nobody holds the terminal's other side (it was closed).
    bool hung_up() const;
    // Bytes written to the terminal's other side and not read here yet.
    size_t pending() const;
    // Closes the board side: the other side sees the line hang up.
    void close();

private:
    int master_ = -1;
    int slave_fd_ = -1;
    std::string slave_;
};

// A change of a line the serial layer drives, as it writes it to the file
// that VANTREL_DTR_LOG names: monotonic_ms(), the new level and the line's
// name ("DTR", written without a name, "RTS" or "BREAK"), one a line.
struct LineChange {
    long long at_ms;
    int level;
    std::string line;
};
using DtrChange = LineChange;
std::vector<LineChange> read_line_log(const std::string& path);
// The DTR changes alone.
std::vector<DtrChange> read_dtr_log(const std::string& path);

} // namespace support
