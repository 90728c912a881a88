// The Telnet and COM-PORT-OPTION engine through its public interface: a
// fake serial line that keeps what it was set to (and may refuse), a sink
// that records the board's and the client's bytes, and one event log that
// shows the order of board data and line-control calls.

#include "worker/telnet_com_port.h"

#include "manager/product_texts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using bytes = std::string;

constexpr char IAC = '\xff';

bytes b(std::initializer_list<int> values)
{
    bytes out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

bytes option(int verb, int opt) { return b({TELNET_IAC, verb, opt}); }

// IAC SB COM-PORT code value IAC SE, the value's IACs doubled.
bytes sub(int code, const bytes& value = {})
{
    bytes out = b({TELNET_IAC, TELNET_SB, TELNET_OPT_COM_PORT, code});
    for (char c : value) {
        out.push_back(c);
        if (c == IAC)
            out.push_back(IAC);
    }
    return out + b({TELNET_IAC, TELNET_SE});
}

bytes answer(int code, const bytes& value = {}) { return sub(code + COM_PORT_SERVER_OFFSET, value); }

// The line: what it was set to, or what it keeps when it refuses.
struct FakeLine : com_port_line {
    uint32_t baud = 19200;
    int size = 8;
    com_parity par = com_parity::none;
    com_stop_bits stop = com_stop_bits::one;
    com_flow out_flow = com_flow::none, in_flow = com_flow::none;
    bool brk = false, dtr_on = true, rts_on = true;
    uint8_t lines = 0;
    bool refuse = false; // every change is refused
    std::vector<std::string>* events = nullptr;

    void note(const std::string& e) { events->push_back(e); }
    void set_baud_rate(uint32_t v) override { note("baud " + std::to_string(v)); if (!refuse) baud = v; }
    uint32_t baud_rate() override { return baud; }
    void set_data_size(int v) override { note("size " + std::to_string(v)); if (!refuse) size = v; }
    int data_size() override { return size; }
    void set_parity(com_parity v) override { note("parity " + std::to_string(int(v))); if (!refuse) par = v; }
    com_parity parity() override { return par; }
    void set_stop_bits(com_stop_bits v) override { note("stop " + std::to_string(int(v))); if (!refuse) stop = v; }
    com_stop_bits stop_bits() override { return stop; }
    void set_outbound_flow(com_flow v) override { note("out " + std::to_string(int(v))); if (!refuse) out_flow = v; }
    com_flow outbound_flow() override { return out_flow; }
    void set_inbound_flow(com_flow v) override { note("in " + std::to_string(int(v))); if (!refuse) in_flow = v; }
    com_flow inbound_flow() override { return in_flow; }
    void set_break(bool v) override { note(std::string("break ") + (v ? "1" : "0")); if (!refuse) brk = v; }
    bool break_on() override { return brk; }
    void set_dtr(bool v) override { note(std::string("dtr ") + (v ? "1" : "0")); if (!refuse) dtr_on = v; }
    bool dtr() override { return dtr_on; }
    void set_rts(bool v) override { note(std::string("rts ") + (v ? "1" : "0")); if (!refuse) rts_on = v; }
    bool rts() override { return rts_on; }
    void purge(bool input, bool output) override { note(std::string("purge ") + (input ? "i" : "") + (output ? "o" : "")); }
    uint8_t modem_lines() override { return lines; }
};

struct RecordingSink : telnet_sink {
    std::mutex lock;
    bytes board, client;
    std::vector<std::string>* events = nullptr;
    void to_board(const uint8_t* data, size_t size) override
    {
        board.append(reinterpret_cast<const char*>(data), size);
        events->push_back("board " + bytes(reinterpret_cast<const char*>(data), size));
    }
    void to_client(const uint8_t* data, size_t size) override
    {
        std::lock_guard hold(lock);
        client.append(reinterpret_cast<const char*>(data), size);
    }
};

class TelnetComPort : public ::testing::Test {
protected:
    TelnetComPort()
    {
        line.events = &events;
        sink.events = &events;
    }

    void feed(bytes data) { engine.from_client(reinterpret_cast<uint8_t*>(data.data()), data.size()); }

    // What the client got since the last call.
    bytes take_client()
    {
        bytes out;
        std::swap(out, sink.client);
        return out;
    }

    // The opening offers answered as pyserial answers them, COM-PORT agreed
    // both ways; the outputs are then cleared.
    void agree(bool binary = true)
    {
        engine.start();
        feed(option(TELNET_WILL, TELNET_OPT_COM_PORT) + option(TELNET_DO, TELNET_OPT_COM_PORT)
             + option(TELNET_DO, TELNET_OPT_SGA)
             + (binary ? option(TELNET_DO, TELNET_OPT_BINARY) + option(TELNET_WILL, TELNET_OPT_BINARY)
                       : option(TELNET_DONT, TELNET_OPT_BINARY) + option(TELNET_WONT, TELNET_OPT_BINARY)));
        take_client();
        sink.board.clear();
        events.clear();
    }

    bytes encode(const bytes& data)
    {
        bytes out(telnet_com_port::encoded_size_max(data.size()), '\0');
        size_t n = engine.to_client(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                    reinterpret_cast<uint8_t*>(out.data()));
        out.resize(n);
        return out;
    }

    std::vector<std::string> events;
    FakeLine line;
    RecordingSink sink;
    telnet_com_port engine{line, sink};
};

} // namespace

TEST_F(TelnetComPort, OffersAndAnswersToOptionRequests)
{
    engine.start();
    EXPECT_EQ(take_client(), option(TELNET_WILL, TELNET_OPT_BINARY) + option(TELNET_WILL, TELNET_OPT_SGA)
                                 + option(TELNET_WILL, TELNET_OPT_ECHO) + option(TELNET_WILL, TELNET_OPT_COM_PORT)
                                 + option(TELNET_DO, TELNET_OPT_BINARY));
    struct Case {
        bytes in, out;
    } cases[] = {
        {option(TELNET_DO, TELNET_OPT_BINARY), ""},                 // our offer taken
        {option(TELNET_DO, TELNET_OPT_BINARY), ""},                 // already so
        {option(TELNET_DONT, TELNET_OPT_BINARY), option(TELNET_WONT, TELNET_OPT_BINARY)},
        {option(TELNET_DONT, TELNET_OPT_BINARY), ""},
        {option(TELNET_DO, TELNET_OPT_BINARY), option(TELNET_WILL, TELNET_OPT_BINARY)},
        {option(TELNET_WONT, TELNET_OPT_BINARY), ""},               // our DO refused
        {option(TELNET_WILL, TELNET_OPT_BINARY), option(TELNET_DO, TELNET_OPT_BINARY)},
        {option(TELNET_DONT, TELNET_OPT_SGA), ""},                  // offer refused
        {option(TELNET_WILL, TELNET_OPT_SGA), option(TELNET_DO, TELNET_OPT_SGA)},
        {option(TELNET_WILL, TELNET_OPT_SGA), ""},
        {option(TELNET_WILL, TELNET_OPT_ECHO), option(TELNET_DONT, TELNET_OPT_ECHO)}, // no echo from the client
        {option(TELNET_DO, 24), option(TELNET_WONT, 24)},           // terminal type
        {option(TELNET_DO, 24), option(TELNET_WONT, 24)},
        {option(TELNET_WILL, 31), option(TELNET_DONT, 31)},         // window size
        {option(TELNET_WONT, 31) + option(TELNET_DONT, 200), ""},
        {option(TELNET_WILL, TELNET_OPT_COM_PORT), option(TELNET_DO, TELNET_OPT_COM_PORT) + answer(7, b({0}))},
    };
    for (const Case& c : cases) {
        feed(c.in);
        EXPECT_EQ(take_client(), c.out) << testing::PrintToString(c.in);
    }
    EXPECT_TRUE(sink.board.empty());
}

// Peers that answer every request of ours, agreeing or refusing, without
// keeping state of their own: the exchange comes to rest.
TEST_F(TelnetComPort, NegotiationNeverLoops)
{
    for (bool agreeing : {true, false}) {
        SCOPED_TRACE(agreeing ? "agreeing peer" : "refusing peer");
        FakeLine fresh_line;
        fresh_line.events = &events;
        telnet_com_port fresh{fresh_line, sink};
        take_client();
        fresh.start();
        int rounds = 0;
        for (bytes got = take_client(); !got.empty() && rounds < 10; got = take_client(), ++rounds) {
            bytes back;
            for (size_t i = 0; i + 2 < got.size(); ++i) {
                if (got[i] != IAC)
                    continue;
                const uint8_t verb = static_cast<uint8_t>(got[i + 1]);
                const bool ours = verb == TELNET_WILL || verb == TELNET_WONT;
                const bool on = verb == TELNET_WILL || verb == TELNET_DO;
                if (verb < TELNET_WILL)
                    continue;
                const int reply = ours ? (on && agreeing ? TELNET_DO : TELNET_DONT) : (on && agreeing ? TELNET_WILL : TELNET_WONT);
                back += option(reply, static_cast<uint8_t>(got[i + 2]));
                i += 2;
            }
            if (back.empty())
                break;
            fresh.from_client(reinterpret_cast<uint8_t*>(back.data()), back.size());
        }
        EXPECT_LT(rounds, 3);
    }
}

TEST_F(TelnetComPort, ComPortCommandsAnswerTheValueInForce)
{
    agree();
    struct Case {
        bool refuse;
        bytes in, out;
        std::vector<std::string> calls;
    } cases[] = {
        {false, sub(0), answer(0, bytes("Vantrel Server ") + PRODUCT_VERSION), {}},
        {false, sub(0, "client 1.0"), answer(0, bytes("Vantrel Server ") + PRODUCT_VERSION), {}},
        {false, sub(1, b({0, 0, 0xe1, 0})), answer(1, b({0, 0, 0xe1, 0})), {"baud 57600"}},
        {false, sub(1, b({0, 0, 0, 0})), answer(1, b({0, 0, 0xe1, 0})), {}},            // query
        {false, sub(1, b({0, 0xff, 0xff, 0xff})), answer(1, b({0, 0xff, 0xff, 0xff})), {"baud 16777215"}},
        {true, sub(1, b({0, 1, 0xc2, 0})), answer(1, b({0, 0xff, 0xff, 0xff})), {"baud 115200"}}, // refused
        {false, sub(1, b({0, 1, 0xc2})), answer(1, b({0, 0xff, 0xff, 0xff})), {}},      // short: a query
        {false, sub(2, b({7})), answer(2, b({7})), {"size 7"}},
        {false, sub(2, b({0})), answer(2, b({7})), {}},
        {false, sub(2, b({9})), answer(2, b({7})), {}},                                 // out of range
        {false, sub(2, b({4})), answer(2, b({7})), {}},
        {true, sub(2, b({5})), answer(2, b({7})), {"size 5"}},
        {false, sub(3, b({4})), answer(3, b({4})), {"parity 4"}},                        // mark
        {false, sub(3, b({6})), answer(3, b({4})), {}},
        {false, sub(3, b({0})), answer(3, b({4})), {}},
        {false, sub(4, b({3})), answer(4, b({3})), {"stop 3"}},                          // 1.5
        {false, sub(4, b({2})), answer(4, b({2})), {"stop 2"}},
        {false, sub(4, b({4})), answer(4, b({2})), {}},
        {false, sub(5, b({3})), answer(5, b({3})), {"out 2"}},                           // hardware flow
        {false, sub(5, b({0})), answer(5, b({3})), {}},
        {false, sub(5, b({2})), answer(5, b({2})), {"out 1"}},
        {false, sub(5, b({1})), answer(5, b({1})), {"out 0"}},
        {false, sub(5, b({17})), answer(5, b({1})), {}},                                 // DCD flow: not offered
        {false, sub(5, b({19})), answer(5, b({1})), {}},
        {false, sub(5, b({200})), answer(5, b({1})), {}},
        {false, sub(5, b({5})), answer(5, b({5})), {"break 1"}},
        {false, sub(5, b({4})), answer(5, b({5})), {}},
        {false, sub(5, b({6})), answer(5, b({6})), {"break 0"}},
        {false, sub(5, b({9})), answer(5, b({9})), {"dtr 0"}},
        {false, sub(5, b({7})), answer(5, b({9})), {}},
        {false, sub(5, b({8})), answer(5, b({8})), {"dtr 1"}},
        {true, sub(5, b({9})), answer(5, b({8})), {"dtr 0"}},
        {false, sub(5, b({12})), answer(5, b({12})), {"rts 0"}},
        {false, sub(5, b({10})), answer(5, b({12})), {}},
        {false, sub(5, b({11})), answer(5, b({11})), {"rts 1"}},
        {false, sub(5, b({15})), answer(5, b({15})), {"in 1"}},
        {false, sub(5, b({13})), answer(5, b({15})), {}},
        {false, sub(5, b({16})), answer(5, b({16})), {"in 2"}},
        {false, sub(5, b({18})), answer(5, b({16})), {}},                                // DTR flow: not offered
        {false, sub(5, b({14})), answer(5, b({14})), {"in 0"}},
        {false, sub(5), answer(5, b({1})), {}},                                          // no value: flow query
        {false, sub(10, b({0x1e})), answer(10, b({0x1e})), {}},
        {false, sub(10), answer(10, b({0x1e})), {}},
        {false, sub(11, b({0xff})), answer(11, b({0xff})), {}},
        {false, sub(12, b({1})), answer(12, b({1})), {"purge i"}},
        {false, sub(12, b({2})), answer(12, b({2})), {"purge o"}},
        {false, sub(12, b({3})), answer(12, b({3})), {"purge io"}},
        {false, sub(12, b({4})), answer(12, b({0})), {}},
        {false, sub(12, b({0})), answer(12, b({0})), {}},
        {false, sub(8), answer(8), {}},
        {false, sub(9), answer(9), {}},
        {false, sub(13, b({1})), "", {}},                                                // unknown command
        {false, sub(101, b({0, 0, 0, 1})), "", {}},                                      // a server's code
    };
    for (const Case& c : cases) {
        line.refuse = c.refuse;
        feed(c.in);
        EXPECT_EQ(take_client(), c.out) << testing::PrintToString(c.in);
        EXPECT_EQ(events, c.calls) << testing::PrintToString(c.in);
        events.clear();
    }
    EXPECT_TRUE(sink.board.empty());
}

TEST_F(TelnetComPort, BoardDataKeepsItsOrderWithLineControl)
{
    agree();
    feed(bytes("ab") + sub(5, b({9})) + "c" + bytes(2, IAC) + sub(12, b({2})) + "d");
    EXPECT_EQ(events, (std::vector<std::string>{"board ab", "dtr 0", "board c\xff", "purge o", "board d"}));
}

TEST_F(TelnetComPort, CommandsAreStrippedAndIacUndoubled)
{
    for (bool binary : {true, false}) {
        SCOPED_TRACE(binary ? "binary" : "network virtual terminal");
        FakeLine fresh_line;
        fresh_line.events = &events;
        RecordingSink fresh_sink;
        fresh_sink.events = &events;
        telnet_com_port fresh{fresh_line, fresh_sink};
        fresh.start();
        bytes setup = binary ? option(TELNET_WILL, TELNET_OPT_BINARY) : option(TELNET_WONT, TELNET_OPT_BINARY);
        fresh.from_client(reinterpret_cast<uint8_t*>(setup.data()), setup.size());
        bytes in = bytes("a") + b({TELNET_IAC, TELNET_NOP}) + "b" + b({TELNET_IAC, 243, TELNET_IAC, 246, TELNET_IAC, 249})
                   + bytes(2, IAC) + "c" + b({TELNET_IAC, 0x41}) + "\r" + bytes(1, '\0') + "d\r\ne" + b({TELNET_IAC, TELNET_SE})
                   + sub(1, b({0, 0, 0, 1})) + "f\r" + option(TELNET_DONT, TELNET_OPT_BINARY) + bytes(1, '\0') + "g";
        fresh.from_client(reinterpret_cast<uint8_t*>(in.data()), in.size());
        // (Our side's BINARY going off leaves the client's CR NUL a pair.)
        EXPECT_EQ(fresh_sink.board, binary ? bytes("ab\xff" "c\r") + bytes(1, '\0') + "d\r\nef\r" + bytes(1, '\0') + "g"
                                           : bytes("ab\xff" "c\rd\r\nef\rg"));
    }
}

TEST_F(TelnetComPort, AnySplitOfTheStreamIsTheSame)
{
    // Everything the parser keeps state for, in a non-binary session so
    // that CR NUL counts too, and again in binary.
    for (bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "network virtual terminal");
        const bytes stream = bytes("x\r") + bytes(1, '\0') + bytes(2, IAC) + option(TELNET_DO, 24) + sub(1, b({0, 0, 0xff, 0}))
                             + "y" + sub(0) + b({TELNET_IAC, TELNET_SB, 99, 1, 2, TELNET_IAC, TELNET_SE})
                             + b({TELNET_IAC, TELNET_SB, 44, 2, TELNET_IAC, TELNET_WILL, 3}) + sub(5, b({8})) + "\r\nz"
                             + sub(7) + bytes(2, IAC);
        auto run = [&](const std::vector<size_t>& cuts) {
            std::vector<std::string> log;
            FakeLine l;
            l.events = &log;
            RecordingSink s;
            s.events = &log;
            telnet_com_port e{l, s};
            e.start();
            bytes setup = option(TELNET_WILL, TELNET_OPT_COM_PORT)
                          + (binary ? option(TELNET_WILL, TELNET_OPT_BINARY) : option(TELNET_WONT, TELNET_OPT_BINARY));
            e.from_client(reinterpret_cast<uint8_t*>(setup.data()), setup.size());
            s.client.clear();
            size_t at = 0;
            for (size_t cut : cuts) {
                bytes part = stream.substr(at, cut - at);
                e.from_client(reinterpret_cast<uint8_t*>(part.data()), part.size());
                at = cut;
            }
            bytes rest = stream.substr(at);
            e.from_client(reinterpret_cast<uint8_t*>(rest.data()), rest.size());
            // The board's bytes, the client's, and the line-control calls.
            bytes calls;
            for (const std::string& event : log)
                if (event.rfind("board ", 0) != 0)
                    calls += event + ";";
            return s.board + "|" + s.client + "|" + calls;
        };
        const bytes whole = run({});
        EXPECT_EQ(whole.substr(0, whole.find('|')), binary ? bytes("x\r") + bytes(1, '\0') + "\xffy\r\nz\xff"
                                                           : bytes("x\r\xffy\r\nz\xff"));
        EXPECT_NE(whole.find("baud 65280;dtr 1;"), bytes::npos) << whole;
        for (size_t i = 1; i < stream.size(); ++i) {
            EXPECT_EQ(run({i}), whole) << "cut at " << i;
            for (size_t j = i + 1; j < stream.size(); j += 7)
                EXPECT_EQ(run({i, j}), whole) << "cuts at " << i << " and " << j;
        }
        std::vector<size_t> every;
        for (size_t i = 1; i < stream.size(); ++i)
            every.push_back(i);
        EXPECT_EQ(run(every), whole) << "one byte at a time";
    }
}

TEST_F(TelnetComPort, BadSubnegotiationsAreDroppedWhole)
{
    agree();
    struct Case {
        const char* what;
        bytes in, board, client;
    } cases[] = {
        {"oversized", sub(0, bytes(telnet_com_port::SUBNEGOTIATION_MAX, 'S')) + "a", "a", ""},
        {"oversized with doubled IACs", sub(0, bytes(telnet_com_port::SUBNEGOTIATION_MAX - 1, IAC)) + "a", "a", ""},
        {"broken by a command", b({TELNET_IAC, TELNET_SB, 44, 1, 0, 0, TELNET_IAC, TELNET_DO, 24}) + "a", "a",
         option(TELNET_WONT, 24)},
        {"option only", b({TELNET_IAC, TELNET_SB, 44, TELNET_IAC, TELNET_SE}) + "a", "a", ""},
        {"empty", b({TELNET_IAC, TELNET_SB, TELNET_IAC, TELNET_SE}) + "a", "a", ""},
        {"another option", b({TELNET_IAC, TELNET_SB, 24, 0, 'x', TELNET_IAC, TELNET_SE}) + "a", "a", ""},
        {"the longest kept", sub(0, bytes(telnet_com_port::SUBNEGOTIATION_MAX - 2, 'S')),  "",
         answer(0, bytes("Vantrel Server ") + PRODUCT_VERSION)},
    };
    for (const Case& c : cases) {
        feed(c.in);
        EXPECT_EQ(sink.board, c.board) << c.what;
        EXPECT_EQ(take_client(), c.client) << c.what;
        sink.board.clear();
    }
    // One that never ends swallows what follows, in bounded space.
    feed(b({TELNET_IAC, TELNET_SB, 44, 1}));
    for (int i = 0; i < 64; ++i)
        feed(bytes(65536, 'x'));
    EXPECT_TRUE(sink.board.empty());
    feed(b({TELNET_IAC, TELNET_SE}) + "after");
    EXPECT_EQ(sink.board, "after");
    EXPECT_TRUE(take_client().empty());
}

TEST_F(TelnetComPort, ComPortCommandsBeforeAgreementAreDropped)
{
    engine.start();
    take_client();
    feed(sub(1, b({0, 0, 0x25, 0x80})) + "a");
    EXPECT_TRUE(take_client().empty());
    EXPECT_EQ(events, (std::vector<std::string>{"board a"}));
    // A client that refuses COM-PORT gets a plain binary session.
    feed(option(TELNET_DONT, TELNET_OPT_COM_PORT) + option(TELNET_DO, TELNET_OPT_BINARY)
         + option(TELNET_WILL, TELNET_OPT_BINARY));
    EXPECT_TRUE(take_client().empty());
    EXPECT_EQ(encode(b({1, 0xff, '\r'})), b({1, 0xff, 0xff, '\r'}));
}

TEST_F(TelnetComPort, BoardBytesAreEncodedForTheClient)
{
    agree(true);
    struct Case {
        bytes in, out;
    } binary[] = {
        {"", ""},
        {"plain", "plain"},
        {b({0xff}), b({0xff, 0xff})},
        {b({'a', 0xff, 'b', 0xff, 0xff, 'c', 0xff}), b({'a', 0xff, 0xff, 'b', 0xff, 0xff, 0xff, 0xff, 'c', 0xff, 0xff})},
        {b({'\r', 0, '\r', '\n', '\r'}), b({'\r', 0, '\r', '\n', '\r'})},
    };
    for (const Case& c : binary)
        EXPECT_EQ(encode(c.in), c.out) << testing::PrintToString(c.in);
    EXPECT_EQ(encode(bytes(8192, IAC)), bytes(16384, IAC));

    // Without BINARY on our side: CR not followed by LF goes as CR NUL.
    feed(option(TELNET_DONT, TELNET_OPT_BINARY));
    EXPECT_EQ(encode(b({'a', '\r', 'b', '\r', '\n', 0xff, '\r'})),
              b({'a', '\r', 0, 'b', '\r', '\n', 0xff, 0xff, '\r', 0}));
}

TEST_F(TelnetComPort, ModemAndLineStateNotifications)
{
    line.lines = COM_MODEM_CTS | COM_MODEM_CD;
    engine.start();
    take_client();
    // Once when COM-PORT is agreed, the lines without change bits.
    feed(option(TELNET_WILL, TELNET_OPT_COM_PORT));
    EXPECT_EQ(take_client(), option(TELNET_DO, TELNET_OPT_COM_PORT) + answer(7, b({0x90})));
    feed(option(TELNET_DO, TELNET_OPT_COM_PORT));
    EXPECT_TRUE(take_client().empty()) << "only once";

    struct Case {
        const char* what;
        bytes set_up;              // sent by the client first
        uint8_t lines, errors;     // then reported by the serial side
        bytes out;
    } cases[] = {
        {"no change", "", 0x90, 0, ""},
        {"DSR up", "", 0xb0, 0, answer(7, b({0xb2}))},
        {"CD down, RI up", "", 0x70, 0, answer(7, b({0x78}))},
        {"RI down: its trailing edge", "", 0x30, 0, answer(7, b({0x34}))},
        {"masked out", sub(11, b({0x10})), 0x10, 0, answer(11, b({0x10}))},
        {"masked in", "", 0x00, 0, answer(7, b({0x00}))},
        {"CTS only when masked so", sub(11, b({0x11})), 0x10, 0, answer(11, b({0x11})) + answer(7, b({0x11}))},
        {"line errors masked by default", "", 0x10, COM_LINE_FRAMING, ""},
        {"line errors let through", sub(10, b({0x1e})), 0x10, COM_LINE_BREAK | COM_LINE_PARITY,
         answer(10, b({0x1e})) + answer(6, b({0x14}))},
        {"a modem poll is answered at once", sub(7), 0x10, 0, answer(7, b({0x10}))},
        {"and a line state poll", sub(6), 0x10, 0, answer(6, b({0x00}))},
    };
    for (const Case& c : cases) {
        line.lines = c.lines;
        feed(c.set_up);
        engine.report_modem_lines(c.lines);
        if (c.errors)
            engine.report_line_errors(c.errors);
        EXPECT_EQ(take_client(), c.out) << c.what;
    }

    // Suspended: the client is told nothing until it resumes, then what
    // changed meanwhile.
    feed(sub(8));
    EXPECT_TRUE(engine.suspended());
    EXPECT_EQ(take_client(), answer(8));
    engine.report_modem_lines(0x00);
    engine.report_line_errors(COM_LINE_OVERRUN);
    EXPECT_TRUE(take_client().empty());
    feed(sub(9));
    EXPECT_FALSE(engine.suspended());
    EXPECT_EQ(take_client(), answer(9) + answer(7, b({0x01})) + answer(6, b({0x02})));
}

// The two pumps at once: the socket side sends commands and polls while
// the serial side encodes and reports (run under the thread sanitizer too).
TEST_F(TelnetComPort, BothPumpThreadsAtOnce)
{
    agree();
    std::atomic<bool> done{false};
    std::thread serial_side([&] {
        bytes block(4096, IAC), out(telnet_com_port::encoded_size_max(4096), '\0');
        for (int i = 0; i < 2000 && !done; ++i) {
            EXPECT_EQ(engine.to_client(reinterpret_cast<const uint8_t*>(block.data()), block.size(),
                                       reinterpret_cast<uint8_t*>(out.data())),
                      8192u);
            engine.report_modem_lines(i % 2 ? COM_MODEM_CTS : 0);
            (void)engine.suspended();
        }
    });
    for (int i = 0; i < 500; ++i)
        feed(sub(7) + sub(i % 2 ? 8 : 9) + "data");
    done = true;
    serial_side.join();
    EXPECT_EQ(sink.board.size(), 500u * 4);
}
