// Many clients that each send a block and close at once, as a script does,
// through the real vantrel worker to a pseudo-terminal board: the worker
// serves them one after the other, and every byte each of them sent
// reaches the board, in order, whether the board reads at once or lets its
// input fill up first.

#include "bridge_harness.h"

#include "support/device_map.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace test;

namespace {

constexpr size_t CLIENTS = 60;
constexpr size_t BLOCK = 32 * 1024;

std::string block_for(size_t client)
{
    std::mt19937 g(static_cast<unsigned>(client) + 1);
    std::string s(BLOCK, '\0');
    for (auto& c : s)
        c = static_cast<char>(g());
    return s;
}

// One client: a non-blocking connect, the whole block, then a close.
struct Sender {
    int fd = -1;
    size_t sent = 0;
    bool closed = false;
};

enum class BoardPace {
    Eager, // reads whatever arrives at once
    Slow,  // reads only once its input is nearly full or the line went quiet
};

class ManyClients : public ::testing::TestWithParam<BoardPace> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.valid());
        devices.map("COM5", board.slave());
        options.tcp_port = std::to_string(free_port());
        options.baud_rate = "115200";
    }

    ScopedEnv no_dtr_log{"VANTREL_DTR_LOG", std::nullopt};
    DeviceMap devices;
    Board board;
    WorkerOptions options;
    Worker worker;
};

int connect_nonblocking(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TEST_P(ManyClients, EveryByteOfEveryClientReachesTheBoardInOrder)
{
    const bool slow = GetParam() == BoardPace::Slow;
    ASSERT_TRUE(worker.start(options));
    const uint16_t port = static_cast<uint16_t>(std::stoi(options.tcp_port));
    ASSERT_TRUE(wait_until([&] { return listening(port); }, 15000));

    std::vector<std::string> blocks;
    std::map<std::string, size_t> by_head; // a block's first bytes name its client
    for (size_t i = 0; i < CLIENTS; ++i) {
        blocks.push_back(block_for(i));
        by_head[blocks.back().substr(0, 32)] = i;
    }
    ASSERT_EQ(by_head.size(), CLIENTS);

    // Clients queue up for the worker as far as its listening socket's
    // backlog (5) holds them: one more would have its connection dropped
    // and retried by the system seconds later.
    constexpr size_t IN_FLIGHT = 5;
    std::vector<Sender> senders(CLIENTS);
    size_t started = 0;

    // Every client sends and closes as soon as it can, while the board
    // takes what arrives. Lost bytes show as a stall: nothing new reaches
    // the board for 20 s.
    std::string got;
    const size_t total = CLIENTS * BLOCK;
    const Deadline deadline(240000);
    auto progress = Clock::now();
    char buffer[65536];
    while (got.size() < total && !deadline.expired() && ms_since(progress) < 20000) {
        while (started < CLIENTS && started < got.size() / BLOCK + IN_FLIGHT) {
            senders[started].fd = connect_nonblocking(port);
            ASSERT_GE(senders[started].fd, 0);
            ++started;
        }
        std::vector<pollfd> p;
        std::vector<size_t> index;
        for (size_t i = 0; i < started; ++i)
            if (!senders[i].closed) {
                p.push_back({senders[i].fd, POLLOUT, 0});
                index.push_back(i);
            }
        p.push_back({board.fd(), POLLIN, 0});
        const int ready = poll(p.data(), p.size(), 20);
        for (size_t k = 0; k + 1 < p.size(); ++k) {
            if (!(p[k].revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            Sender& s = senders[index[k]];
            ssize_t w = ::send(s.fd, blocks[index[k]].data() + s.sent, BLOCK - s.sent, MSG_NOSIGNAL);
            if (w > 0)
                s.sent += static_cast<size_t>(w);
            else if (w < 0 && errno != EAGAIN && errno != EINPROGRESS && errno != ENOTCONN)
                FAIL() << "client " << index[k] << " failed to send: " << std::strerror(errno);
            if (s.sent == BLOCK) {
                ::close(s.fd);
                s.fd = -1;
                s.closed = true;
            }
        }
        // The slow board leaves its input to fill up while other things
        // happen, so the worker's closes find bytes it has not read yet.
        const bool board_ready = p.back().revents & (POLLIN | POLLHUP);
        if (board_ready && (!slow || ready == 1 || board.pending() >= 3072)) {
            ssize_t r = ::read(board.fd(), buffer, sizeof buffer);
            if (r > 0) {
                got.append(buffer, static_cast<size_t>(r));
                progress = Clock::now();
            }
        }
        if (ready == 0 && slow && board.pending() > 0) {
            ssize_t r = ::read(board.fd(), buffer, sizeof buffer);
            if (r > 0) {
                got.append(buffer, static_cast<size_t>(r));
                progress = Clock::now();
            }
        }
    }
    for (auto& s : senders)
        if (s.fd >= 0)
            ::close(s.fd);

    size_t closed = 0;
    for (auto& s : senders)
        closed += s.closed;
    EXPECT_EQ(closed, CLIENTS) << "clients that sent their whole block";
    ASSERT_EQ(got.size(), total) << "bytes lost on the way to the board";

    // One block after the other, each whole and each once.
    std::vector<bool> seen(CLIENTS, false);
    for (size_t at = 0; at < total; at += BLOCK) {
        auto it = by_head.find(got.substr(at, 32));
        ASSERT_NE(it, by_head.end()) << "no client's block begins at byte " << at;
        EXPECT_FALSE(seen[it->second]) << "client " << it->second << " twice";
        seen[it->second] = true;
        EXPECT_TRUE(got.compare(at, BLOCK, blocks[it->second]) == 0) << "client " << it->second << "'s block differs";
    }
    EXPECT_TRUE(worker.running());
    EXPECT_GE(worker.stop_and_time(10000), 0);
    EXPECT_EQ(worker.exit_code(), 0);
}

INSTANTIATE_TEST_SUITE_P(BoardPaces, ManyClients, ::testing::Values(BoardPace::Eager, BoardPace::Slow),
                         [](const ::testing::TestParamInfo<BoardPace>& info) {
                             return info.param == BoardPace::Eager ? std::string("EagerBoard")
                                                                   : std::string("SlowBoard");
                         });
