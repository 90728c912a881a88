// The worker's eight words as it reads them, the report target above all:
// a 32-bit number written unsigned, read back sign-extended as a window
// handle is.

#include "worker/worker_args.h"

#include <gtest/gtest.h>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

// The words with the program path before them, as the worker's argv; the
// strings live as long as the object.
struct Argv {
    explicit Argv(std::vector<std::string> list) : words(std::move(list))
    {
        words.insert(words.begin(), "vantrel");
        for (std::string& w : words)
            pointers.push_back(w.data());
        pointers.push_back(nullptr);
    }
    worker_args read() { return worker_read_args(pointers.data()); }

    std::vector<std::string> words;
    std::vector<char*> pointers;
};

uintptr_t sign_extended(int32_t value)
{
    return static_cast<uintptr_t>(static_cast<intptr_t>(value));
}

} // namespace

TEST(WorkerArgs, TheEightWordsInTheirPlaces)
{
    Argv argv({"BRAMBLEVantrelServer42_1", "telnet", "COM3", "9600", "226", "1", "0", "655360"});
    const worker_args args = argv.read();
    EXPECT_STREQ(args.event_name, "BRAMBLEVantrelServer42_1");
    EXPECT_STREQ(args.tcp_port, "telnet");
    EXPECT_STREQ(args.serial_port, "COM3");
    EXPECT_STREQ(args.baud_rate, "9600");
    EXPECT_EQ(args.line_flags, 226);
    EXPECT_EQ(args.dtro, 1);
    EXPECT_EQ(args.dtrc, 0);
    EXPECT_EQ(args.report_target, 655360u);
}

TEST(WorkerArgs, ReportTargetWithBit31SetIsSignExtended)
{
    struct Case {
        const char* word;
        uintptr_t expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"1", 1},
        {"2147483647", 0x7fffffffu},
        {"2147483648", sign_extended(INT32_MIN)},
        {"4294967295", sign_extended(-1)},
        {"4294967294", sign_extended(-2)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(worker_report_target(c.word), c.expected) << c.word;
        Argv argv({"e", "1", "COM1", "9600", "0", "0", "0", c.word});
        EXPECT_EQ(argv.read().report_target, c.expected) << c.word;
    }
}

TEST(WorkerArgs, ReportTargetThatIsNoNumberIsNoTarget)
{
    EXPECT_EQ(worker_report_target(""), 0u);
    EXPECT_EQ(worker_report_target("window"), 0u);
}
