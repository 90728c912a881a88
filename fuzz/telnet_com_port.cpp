// The Telnet and COM-PORT-OPTION engine of an RFC 2217 service: bytes from
// a client, cut into reads in the ways the first two input bytes choose,
// with board bytes and modem lines from the serial side between reads.
// Checked: the board gets what a plain decoder makes of the stream (no
// byte from inside a command, however the reads are cut), the client gets
// well-formed Telnet commands only, the board's bytes come back intact
// from their encoding, and the engine allocates nothing.

#include "worker/telnet_com_port.h"

#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Allocations made while the engine runs, seen through the sanitizer's
// allocator hooks.
bool counting = false;
size_t allocations = 0;
void count_allocation(const volatile void*, size_t)
{
    if (counting)
        ++allocations;
}
void ignore_free(const volatile void*) {}

struct StubLine : com_port_line {
    uint32_t baud = 9600;
    int size = 8;
    com_parity par = com_parity::none;
    com_stop_bits stop = com_stop_bits::one;
    com_flow out = com_flow::none, in = com_flow::none;
    bool brk = false, dtr_on = true, rts_on = true;
    uint8_t lines = 0;

    void set_baud_rate(uint32_t v) override
    {
        if (v == 0)
            std::abort(); // 0 asks, it sets nothing
        if (v <= 4000000)
            baud = v; // faster is refused
    }
    uint32_t baud_rate() override { return baud; }
    void set_data_size(int v) override
    {
        if (v < 5 || v > 8)
            std::abort();
        size = v;
    }
    int data_size() override { return size; }
    void set_parity(com_parity v) override
    {
        if (v < com_parity::none || v > com_parity::space)
            std::abort();
        par = v;
    }
    com_parity parity() override { return par; }
    void set_stop_bits(com_stop_bits v) override
    {
        if (v < com_stop_bits::one || v > com_stop_bits::one_and_half)
            std::abort();
        stop = v;
    }
    com_stop_bits stop_bits() override { return stop; }
    void set_outbound_flow(com_flow v) override { out = v; }
    com_flow outbound_flow() override { return out; }
    void set_inbound_flow(com_flow v) override { in = v; }
    com_flow inbound_flow() override { return in; }
    void set_break(bool v) override { brk = v; }
    bool break_on() override { return brk; }
    void set_dtr(bool v) override { dtr_on = v; }
    bool dtr() override { return dtr_on; }
    void set_rts(bool v) override { rts_on = v; }
    bool rts() override { return rts_on; }
    void purge(bool, bool) override {}
    uint8_t modem_lines() override { return lines; }
};

struct Collect : telnet_sink {
    std::string board, client;
    void to_board(const uint8_t* data, size_t size) override
    {
        if (size == 0)
            std::abort();
        counting = false;
        board.append(reinterpret_cast<const char*>(data), size);
        counting = true;
    }
    void to_client(const uint8_t* data, size_t size) override
    {
        counting = false;
        client.append(reinterpret_cast<const char*>(data), size);
        counting = true;
    }
};

// The board's share of a client stream, byte by byte: what the engine
// must hand on. The engine takes BINARY from the client whenever offered.
std::string plain_decode(const uint8_t* p, size_t n)
{
    enum { data, command, option, sub, sub_command } state = data;
    bool binary = false, after_cr = false;
    uint8_t verb = 0;
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        switch (state) {
        case data:
            if (b == TELNET_IAC)
                state = command;
            else if (!binary && after_cr && b == 0)
                after_cr = false;
            else {
                after_cr = !binary && b == '\r';
                out.push_back(static_cast<char>(b));
            }
            break;
        case sub_command:
            if (b == TELNET_IAC) {
                state = sub;
                break;
            }
            if (b == TELNET_SE) {
                state = data;
                break;
            }
            [[fallthrough]]; // a command breaks the subnegotiation off
        case command:
            state = data;
            if (b == TELNET_IAC) {
                after_cr = false;
                out.push_back(static_cast<char>(b));
            } else if (b == TELNET_SB) {
                state = sub;
            } else if (b >= TELNET_WILL) {
                verb = b;
                state = option;
            }
            break;
        case option:
            state = data;
            if (b == TELNET_OPT_BINARY && (verb == TELNET_WILL || verb == TELNET_WONT) && binary != (verb == TELNET_WILL)) {
                binary = verb == TELNET_WILL;
                after_cr = false;
            }
            break;
        case sub:
            if (b == TELNET_IAC)
                state = sub_command;
            break;
        }
    }
    return out;
}

// Whether the client's bytes are Telnet commands only: negotiation, or a
// COM-PORT subnegotiation with a server code and its IACs doubled.
bool well_formed(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        if (static_cast<uint8_t>(s[i]) != TELNET_IAC || i + 2 >= s.size())
            return false;
        const uint8_t verb = static_cast<uint8_t>(s[i + 1]);
        if (verb >= TELNET_WILL) {
            i += 3;
            continue;
        }
        if (verb != TELNET_SB || static_cast<uint8_t>(s[i + 2]) != TELNET_OPT_COM_PORT || i + 3 >= s.size())
            return false;
        const uint8_t code = static_cast<uint8_t>(s[i + 3]);
        if (code < COM_PORT_SERVER_OFFSET || code > COM_PORT_SERVER_OFFSET + COM_PORT_PURGE_DATA)
            return false;
        for (i += 4;; ++i) {
            if (i + 1 >= s.size())
                return false;
            if (static_cast<uint8_t>(s[i]) != TELNET_IAC)
                continue;
            const uint8_t next = static_cast<uint8_t>(s[i + 1]);
            if (next == TELNET_SE)
                break;
            if (next != TELNET_IAC)
                return false;
            ++i;
        }
        i += 2;
    }
    return true;
}

// The board's bytes back from their encoding for the client.
std::string undo_encoding(const std::string& s, bool binary)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        out.push_back(s[i]);
        if (static_cast<uint8_t>(s[i]) == TELNET_IAC || (!binary && s[i] == '\r' && i + 1 < s.size() && s[i + 1] == 0))
            ++i;
    }
    return out;
}

struct Run {
    std::string board, client;
};

// Feeds the stream in reads of the sizes `cut` gives (0: all at once).
Run feed(const uint8_t* data, size_t size, uint8_t cut, uint8_t serial)
{
    StubLine line;
    Collect sink;
    telnet_com_port engine{line, sink};
    counting = true;
    engine.start();
    std::string block;
    uint8_t encoded[2 * 64];
    size_t at = 0;
    uint32_t step = cut;
    while (at < size) {
        step = step * 1103515245u + 12345u;
        const size_t n = cut == 0 ? size - at : 1 + (step >> 16) % (cut % 64 + 1);
        const size_t take = n < size - at ? n : size - at;
        counting = false;
        block.assign(reinterpret_cast<const char*>(data + at), take);
        counting = true;
        engine.from_client(reinterpret_cast<uint8_t*>(block.data()), take);
        // The serial side between reads: a few board bytes, the lines.
        const size_t board = take < 64 ? take : 64;
        const size_t got = engine.to_client(data + at, board, encoded);
        if (got > telnet_com_port::encoded_size_max(board))
            std::abort();
        line.lines = static_cast<uint8_t>(data[at] ^ serial);
        engine.report_modem_lines(line.lines);
        engine.report_line_errors(static_cast<uint8_t>(serial & data[at]));
        (void)engine.suspended();
        at += take;
        // They come back intact, whichever way our BINARY stands.
        counting = false;
        const std::string sent(reinterpret_cast<const char*>(data + at - take), board);
        const std::string wire(reinterpret_cast<const char*>(encoded), got);
        if (undo_encoding(wire, true) != sent && undo_encoding(wire, false) != sent)
            std::abort();
        counting = true;
    }
    counting = false;
    return {sink.board, sink.client};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks(count_allocation, ignore_free) != 0;
    if (!hooked)
        std::abort();
    if (size < 2)
        return 0;
    const uint8_t cut = data[0], serial = data[1];
    data += 2;
    size -= 2;
    allocations = 0;
    const Run whole = feed(data, size, 0, serial);
    const Run split = feed(data, size, cut | 1, serial);
    if (allocations != 0)
        std::abort(); // the engine allocates nothing
    if (whole.board != plain_decode(data, size) || split.board != whole.board)
        std::abort(); // no byte from inside a command, however the reads are cut
    if (!well_formed(whole.client) || !well_formed(split.client))
        std::abort();
    return 0;
}
