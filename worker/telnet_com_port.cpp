// The Telnet and COM-PORT-OPTION engine of an RFC 2217 service (see the
// header for what it does and how the relay's two threads share it).

#include "worker/telnet_com_port.h"

#include "manager/product_texts.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t CR = '\r';
constexpr uint8_t LF = '\n';
constexpr uint8_t NUL = 0;
constexpr const char PRODUCT_NAME[] = "Vantrel Server";

bool willing_us(uint8_t option)
{
    return option == TELNET_OPT_BINARY || option == TELNET_OPT_SGA || option == TELNET_OPT_ECHO
           || option == TELNET_OPT_COM_PORT;
}

bool willing_him(uint8_t option)
{
    return option == TELNET_OPT_BINARY || option == TELNET_OPT_SGA || option == TELNET_OPT_COM_PORT;
}

uint8_t flow_answer(com_flow flow, uint8_t none, uint8_t xon_xoff, uint8_t hardware)
{
    switch (flow) {
    case com_flow::xon_xoff: return xon_xoff;
    case com_flow::hardware: return hardware;
    default: return none;
    }
}

} // namespace

telnet_com_port::telnet_com_port(com_port_line& line, telnet_sink& sink) : line_(line), sink_(sink) {}

void telnet_com_port::start()
{
    for (uint8_t option : {TELNET_OPT_BINARY, TELNET_OPT_SGA, TELNET_OPT_ECHO, TELNET_OPT_COM_PORT}) {
        options_[option].us = q::want_yes;
        reply_option(TELNET_WILL, option);
    }
    options_[TELNET_OPT_BINARY].him = q::want_yes;
    reply_option(TELNET_DO, TELNET_OPT_BINARY);
    flush_replies();
}

// ---- client to board ----

void telnet_com_port::from_client(uint8_t* data, size_t size)
{
    block_ = data;
    board_start_ = board_end_ = 0;
    size_t i = 0;
    while (i < size) {
        switch (state_) {
        case parse::data:
            if (binary_from_client_) {
                // Runs between IACs move as they are (down, over what
                // commands took out).
                const void* hit = std::memchr(data + i, TELNET_IAC, size - i);
                const size_t run = hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - (data + i)) : size - i;
                if (run > 0 && board_end_ != i)
                    std::memmove(data + board_end_, data + i, run);
                board_end_ += run;
                i += run;
                // A run of doubled IACs (all-0xFF data) in one go.
                while (i + 1 < size && data[i] == TELNET_IAC && data[i + 1] == TELNET_IAC) {
                    data[board_end_++] = TELNET_IAC;
                    i += 2;
                }
                if (i < size && data[i] == TELNET_IAC) {
                    state_ = parse::command;
                    ++i;
                }
            } else {
                const uint8_t b = data[i++];
                if (b == TELNET_IAC) {
                    state_ = parse::command;
                } else if (after_cr_ && b == NUL) {
                    after_cr_ = false; // CR NUL is a CR alone
                } else {
                    after_cr_ = b == CR;
                    data[board_end_++] = b;
                }
            }
            break;
        case parse::command:
            command(data[i++]);
            break;
        case parse::option:
            state_ = parse::data;
            negotiate(verb_, data[i++]);
            break;
        case parse::sub: {
            const uint8_t b = data[i++];
            if (b == TELNET_IAC)
                state_ = parse::sub_command;
            else if (sub_size_ < SUBNEGOTIATION_MAX)
                sub_[sub_size_++] = b;
            else
                sub_overflow_ = true;
            break;
        }
        case parse::sub_command: {
            const uint8_t b = data[i++];
            if (b == TELNET_IAC) {
                state_ = parse::sub;
                if (sub_size_ < SUBNEGOTIATION_MAX)
                    sub_[sub_size_++] = TELNET_IAC;
                else
                    sub_overflow_ = true;
            } else if (b == TELNET_SE) {
                state_ = parse::data;
                subnegotiation_end();
            } else {
                // IAC and a command inside a subnegotiation: the
                // subnegotiation is broken off and the command carried out.
                sub_size_ = 0;
                sub_overflow_ = false;
                command(b);
            }
            break;
        }
        }
    }
    flush_board();
    flush_replies();
    block_ = nullptr;
}

// The byte after an IAC in the data.
void telnet_com_port::command(uint8_t byte)
{
    state_ = parse::data;
    switch (byte) {
    case TELNET_IAC:
        after_cr_ = false;
        block_[board_end_++] = TELNET_IAC;
        break;
    case TELNET_SB:
        state_ = parse::sub;
        sub_size_ = 0;
        sub_overflow_ = false;
        break;
    case TELNET_WILL:
    case TELNET_WONT:
    case TELNET_DO:
    case TELNET_DONT:
        verb_ = byte;
        state_ = parse::option;
        break;
    default:
        break; // NOP, data mark, break, interrupt, are-you-there, go-ahead, a stray SE: nothing to do
    }
}

// RFC 1143's rules without the queue: this side never asks to turn an
// option off, so only a change of state is answered.
void telnet_com_port::negotiate(uint8_t verb, uint8_t option)
{
    option_state& s = options_[option];
    const bool ours = verb == TELNET_DO || verb == TELNET_DONT;
    q& side = ours ? s.us : s.him;
    const bool asked_on = verb == TELNET_DO || verb == TELNET_WILL;
    const uint8_t yes = ours ? TELNET_WILL : TELNET_DO;
    const uint8_t no = ours ? TELNET_WONT : TELNET_DONT;
    if (asked_on) {
        if (side == q::no) {
            if (ours ? willing_us(option) : willing_him(option)) {
                side = q::yes;
                reply_option(yes, option);
                enabled_changed(option);
            } else {
                reply_option(no, option);
            }
        } else if (side == q::want_yes) {
            side = q::yes;
            enabled_changed(option);
        }
    } else {
        if (side == q::yes) {
            side = q::no;
            reply_option(no, option);
            enabled_changed(option);
        } else if (side == q::want_yes) {
            side = q::no; // our offer refused
        }
    }
}

void telnet_com_port::enabled_changed(uint8_t option)
{
    const option_state& s = options_[option];
    if (option == TELNET_OPT_BINARY) {
        binary_to_client_.store(s.us == q::yes, std::memory_order_release);
        if (binary_from_client_ != (s.him == q::yes)) {
            binary_from_client_ = s.him == q::yes;
            after_cr_ = false; // a CR before the change pairs with nothing after it
        }
    } else if (option == TELNET_OPT_COM_PORT) {
        const bool agreed = s.us == q::yes || s.him == q::yes;
        if (agreed == com_port_.load(std::memory_order_relaxed))
            return;
        std::lock_guard lock(notify_lock_);
        com_port_.store(agreed, std::memory_order_release);
        sink_.modem_watch_changed(agreed && modem_mask_ != 0);
        if (!agreed)
            return;
        // Agreed: the client learns the modem lines once, after the
        // negotiation's answers.
        const uint8_t lines = line_.modem_lines() & COM_MODEM_LINES;
        lines_reported_ = lines;
        flush_replies();
        send_modem_state_locked(lines, true);
    }
}

void telnet_com_port::subnegotiation_end()
{
    const bool usable = !sub_overflow_ && sub_size_ >= 2 && sub_[0] == TELNET_OPT_COM_PORT
                        && com_port_.load(std::memory_order_relaxed);
    const size_t size = sub_size_;
    sub_size_ = 0;
    sub_overflow_ = false;
    if (!usable)
        return;
    // What the client sent before the command goes out first.
    flush_board();
    com_port_command(sub_[1], sub_ + 2, size - 2);
}

void telnet_com_port::com_port_command(uint8_t code, const uint8_t* value, size_t size)
{
    const uint8_t answer_code = static_cast<uint8_t>(code + COM_PORT_SERVER_OFFSET);
    const bool one = size == 1;
    const uint8_t v = one ? value[0] : 0;
    uint8_t answer = 0;
    switch (code) {
    case COM_PORT_SIGNATURE: {
        const size_t name = sizeof PRODUCT_NAME - 1;
        const size_t version = std::strlen(PRODUCT_VERSION);
        uint8_t text[sizeof PRODUCT_NAME + 32];
        const size_t length = name + 1 + std::min(version, sizeof text - name - 1);
        std::memcpy(text, PRODUCT_NAME, name);
        text[name] = ' ';
        std::memcpy(text + name + 1, PRODUCT_VERSION, length - name - 1);
        reply_sub(answer_code, text, length);
        return;
    }
    case COM_PORT_SET_BAUDRATE: {
        if (size == 4) {
            const uint32_t baud = uint32_t(value[0]) << 24 | uint32_t(value[1]) << 16 | uint32_t(value[2]) << 8 | value[3];
            if (baud != 0)
                line_.set_baud_rate(baud);
        }
        const uint32_t now = line_.baud_rate();
        const uint8_t bytes[4] = {uint8_t(now >> 24), uint8_t(now >> 16), uint8_t(now >> 8), uint8_t(now)};
        reply_sub(answer_code, bytes, sizeof bytes);
        return;
    }
    case COM_PORT_SET_DATASIZE:
        if (one && v >= 5 && v <= 8)
            line_.set_data_size(v);
        answer = static_cast<uint8_t>(line_.data_size());
        break;
    case COM_PORT_SET_PARITY:
        if (one && v >= static_cast<uint8_t>(com_parity::none) && v <= static_cast<uint8_t>(com_parity::space))
            line_.set_parity(static_cast<com_parity>(v));
        answer = static_cast<uint8_t>(line_.parity());
        break;
    case COM_PORT_SET_STOPSIZE:
        if (one && v >= static_cast<uint8_t>(com_stop_bits::one) && v <= static_cast<uint8_t>(com_stop_bits::one_and_half))
            line_.set_stop_bits(static_cast<com_stop_bits>(v));
        answer = static_cast<uint8_t>(line_.stop_bits());
        break;
    case COM_PORT_SET_CONTROL:
        answer = set_control(one ? v : static_cast<uint8_t>(COM_CONTROL_FLOW_QUERY));
        break;
    case COM_PORT_NOTIFY_LINESTATE: {
        std::lock_guard lock(notify_lock_);
        flush_replies();
        send_line_state_locked(true);
        return;
    }
    case COM_PORT_NOTIFY_MODEMSTATE: {
        std::lock_guard lock(notify_lock_);
        flush_replies();
        send_modem_state_locked(line_.modem_lines(), true);
        return;
    }
    case COM_PORT_FLOWCONTROL_SUSPEND: {
        // Under the lock: no notification of the serial side follows.
        std::lock_guard lock(notify_lock_);
        suspended_.store(true, std::memory_order_release);
        reply_sub(answer_code, nullptr, 0);
        return;
    }
    case COM_PORT_FLOWCONTROL_RESUME: {
        reply_sub(answer_code, nullptr, 0);
        std::lock_guard lock(notify_lock_);
        suspended_.store(false, std::memory_order_release);
        sink_.resumed();
        flush_replies();
        // What changed meanwhile.
        send_modem_state_locked(lines_now_, false);
        send_line_state_locked(false);
        return;
    }
    case COM_PORT_SET_LINESTATE_MASK: {
        std::lock_guard lock(notify_lock_);
        if (one)
            line_mask_ = v;
        answer = line_mask_;
        break;
    }
    case COM_PORT_SET_MODEMSTATE_MASK: {
        std::lock_guard lock(notify_lock_);
        if (one) {
            modem_mask_ = v;
            sink_.modem_watch_changed(com_port_.load(std::memory_order_relaxed) && v != 0);
        }
        answer = modem_mask_;
        break;
    }
    case COM_PORT_PURGE_DATA:
        if (one && v >= COM_PURGE_RECEIVE && v <= COM_PURGE_BOTH) {
            line_.purge(v & COM_PURGE_RECEIVE, v & COM_PURGE_TRANSMIT);
            answer = v;
        }
        break;
    default:
        return; // not a command of the client's (a server code, an unknown one): dropped
    }
    reply_sub(answer_code, &answer, 1);
}

// Carries out one SET-CONTROL value; the answer is the state in force of
// the value's group.
uint8_t telnet_com_port::set_control(uint8_t value)
{
    switch (value) {
    case COM_CONTROL_FLOW_NONE: line_.set_outbound_flow(com_flow::none); break;
    case COM_CONTROL_FLOW_XON_XOFF: line_.set_outbound_flow(com_flow::xon_xoff); break;
    case COM_CONTROL_FLOW_HARDWARE: line_.set_outbound_flow(com_flow::hardware); break;
    case COM_CONTROL_BREAK_ON: line_.set_break(true); break;
    case COM_CONTROL_BREAK_OFF: line_.set_break(false); break;
    case COM_CONTROL_DTR_ON: line_.set_dtr(true); break;
    case COM_CONTROL_DTR_OFF: line_.set_dtr(false); break;
    case COM_CONTROL_RTS_ON: line_.set_rts(true); break;
    case COM_CONTROL_RTS_OFF: line_.set_rts(false); break;
    case COM_CONTROL_INBOUND_NONE: line_.set_inbound_flow(com_flow::none); break;
    case COM_CONTROL_INBOUND_XON_XOFF: line_.set_inbound_flow(com_flow::xon_xoff); break;
    case COM_CONTROL_INBOUND_HARDWARE: line_.set_inbound_flow(com_flow::hardware); break;
    default: break; // a query, or a kind of flow control the port does not offer
    }
    switch (value) {
    case COM_CONTROL_BREAK_QUERY:
    case COM_CONTROL_BREAK_ON:
    case COM_CONTROL_BREAK_OFF:
        return line_.break_on() ? COM_CONTROL_BREAK_ON : COM_CONTROL_BREAK_OFF;
    case COM_CONTROL_DTR_QUERY:
    case COM_CONTROL_DTR_ON:
    case COM_CONTROL_DTR_OFF:
        return line_.dtr() ? COM_CONTROL_DTR_ON : COM_CONTROL_DTR_OFF;
    case COM_CONTROL_RTS_QUERY:
    case COM_CONTROL_RTS_ON:
    case COM_CONTROL_RTS_OFF:
        return line_.rts() ? COM_CONTROL_RTS_ON : COM_CONTROL_RTS_OFF;
    case COM_CONTROL_INBOUND_QUERY:
    case COM_CONTROL_INBOUND_NONE:
    case COM_CONTROL_INBOUND_XON_XOFF:
    case COM_CONTROL_INBOUND_HARDWARE:
    case COM_CONTROL_INBOUND_DTR:
        return flow_answer(line_.inbound_flow(), COM_CONTROL_INBOUND_NONE, COM_CONTROL_INBOUND_XON_XOFF,
                           COM_CONTROL_INBOUND_HARDWARE);
    default:
        return flow_answer(line_.outbound_flow(), COM_CONTROL_FLOW_NONE, COM_CONTROL_FLOW_XON_XOFF,
                           COM_CONTROL_FLOW_HARDWARE);
    }
}

// ---- answers and notifications ----

size_t telnet_com_port::sub_message(uint8_t code, const uint8_t* value, size_t size, uint8_t* out)
{
    uint8_t* o = out;
    *o++ = TELNET_IAC;
    *o++ = TELNET_SB;
    *o++ = TELNET_OPT_COM_PORT;
    *o++ = code;
    for (size_t i = 0; i < size; ++i) {
        *o++ = value[i];
        if (value[i] == TELNET_IAC)
            *o++ = TELNET_IAC;
    }
    *o++ = TELNET_IAC;
    *o++ = TELNET_SE;
    return static_cast<size_t>(o - out);
}

void telnet_com_port::reply(const uint8_t* data, size_t size)
{
    if (replies_size_ + size > sizeof replies_)
        flush_replies();
    std::memcpy(replies_ + replies_size_, data, size);
    replies_size_ += size;
}

void telnet_com_port::reply_option(uint8_t verb, uint8_t option)
{
    const uint8_t message[3] = {TELNET_IAC, verb, option};
    reply(message, sizeof message);
}

void telnet_com_port::reply_sub(uint8_t code, const uint8_t* value, size_t size)
{
    uint8_t message[6 + 2 * 64];
    reply(message, sub_message(code, value, size, message));
}

void telnet_com_port::flush_replies()
{
    if (replies_size_ == 0)
        return;
    const size_t size = replies_size_;
    replies_size_ = 0;
    sink_.to_client(replies_, size);
}

void telnet_com_port::flush_board()
{
    if (!block_ || board_end_ == board_start_)
        return;
    sink_.to_board(block_ + board_start_, board_end_ - board_start_);
    board_start_ = board_end_;
}

void telnet_com_port::send_modem_state_locked(uint8_t lines, bool always)
{
    lines &= COM_MODEM_LINES;
    lines_now_ = lines;
    const uint8_t changed = lines ^ lines_reported_;
    uint8_t deltas = 0;
    if (changed & COM_MODEM_CTS)
        deltas |= COM_MODEM_DELTA_CTS;
    if (changed & COM_MODEM_DSR)
        deltas |= COM_MODEM_DELTA_DSR;
    if (changed & COM_MODEM_CD)
        deltas |= COM_MODEM_DELTA_CD;
    if ((changed & COM_MODEM_RI) && !(lines & COM_MODEM_RI))
        deltas |= COM_MODEM_RI_TRAILING_EDGE;
    if (!always && ((changed | deltas) & modem_mask_) == 0)
        return;
    const uint8_t state = static_cast<uint8_t>((lines | deltas) & modem_mask_);
    uint8_t message[8];
    sink_.to_client(message, sub_message(COM_PORT_NOTIFY_MODEMSTATE + COM_PORT_SERVER_OFFSET, &state, 1, message));
    lines_reported_ = lines;
}

void telnet_com_port::send_line_state_locked(bool always)
{
    const uint8_t state = line_errors_ & line_mask_;
    line_errors_ = 0;
    if (!always && state == 0)
        return;
    uint8_t message[8];
    sink_.to_client(message, sub_message(COM_PORT_NOTIFY_LINESTATE + COM_PORT_SERVER_OFFSET, &state, 1, message));
}

void telnet_com_port::report_modem_lines(uint8_t lines)
{
    std::lock_guard lock(notify_lock_);
    lines_now_ = lines & COM_MODEM_LINES;
    if (com_port_.load(std::memory_order_relaxed) && !suspended())
        send_modem_state_locked(lines_now_, false);
}

void telnet_com_port::report_line_errors(uint8_t errors)
{
    std::lock_guard lock(notify_lock_);
    line_errors_ |= errors & (COM_LINE_OVERRUN | COM_LINE_PARITY | COM_LINE_FRAMING | COM_LINE_BREAK);
    if (com_port_.load(std::memory_order_relaxed) && !suspended())
        send_line_state_locked(false);
}

// ---- board to client ----

size_t telnet_com_port::to_client(const uint8_t* data, size_t size, uint8_t* out) const
{
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    uint8_t* o = out;
    if (binary_to_client_.load(std::memory_order_acquire)) {
        while (p < end) {
            const void* hit = std::memchr(p, TELNET_IAC, static_cast<size_t>(end - p));
            const uint8_t* stop = hit ? static_cast<const uint8_t*>(hit) : end;
            std::memcpy(o, p, static_cast<size_t>(stop - p));
            o += stop - p;
            p = stop;
            for (; p < end && *p == TELNET_IAC; ++p) {
                o[0] = TELNET_IAC;
                o[1] = TELNET_IAC;
                o += 2;
            }
        }
    } else {
        // The network virtual terminal: a CR not followed by LF goes as
        // CR NUL (also at the end of a block, whatever comes next).
        for (; p < end; ++p) {
            *o++ = *p;
            if (*p == TELNET_IAC)
                *o++ = TELNET_IAC;
            else if (*p == CR && (p + 1 == end || p[1] != LF))
                *o++ = NUL;
        }
    }
    return static_cast<size_t>(o - out);
}
