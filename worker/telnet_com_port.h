#pragma once
// The Telnet side of an RFC 2217 service: a server engine for the Telnet
// protocol (RFC 854, 855, 856, 858) with the COM-PORT-OPTION (RFC 2217),
// free of I/O. It takes the bytes a client sends and hands on the board's
// data, answers option negotiation and carries out the COM-PORT commands
// on the serial line through com_port_line; it encodes the board's bytes
// for the client; and it tells the client of modem and line state changes.
//
// Options. At start() the engine offers WILL BINARY, DO BINARY, WILL SGA,
// WILL ECHO (the board echoes, if anything does: the client must not echo
// locally) and WILL COM-PORT-OPTION. It accepts BINARY and SGA both ways,
// ECHO on its own side, COM-PORT-OPTION both ways, and refuses every other
// option with WONT or DONT. Each side of each option keeps RFC 1143 state,
// so that only a change of state is answered and negotiation never loops.
// The COM-PORT-OPTION counts as agreed once either side of it is enabled:
// the engine then sends NOTIFY-MODEMSTATE once, and from then on carries
// out COM-PORT commands; before that they are dropped.
//
// Client to board. Telnet commands are taken out, IAC IAC becomes one 0xFF,
// and while the client's side of BINARY is off CR NUL becomes CR (CR LF
// stays). Any split of the stream into reads is the same to the engine. A
// subnegotiation is kept in a buffer of SUBNEGOTIATION_MAX bytes: a longer
// one is dropped whole at its IAC SE, one broken by IAC and a command other
// than SE is dropped and that command carried out; none of it reaches the
// board, however long it runs.
//
// COM-PORT commands. Each one the client sends is answered with the server
// code (client code + 100) and the value in force on the port afterwards,
// read back from the port, also when the device refused the change. A value
// out of range changes nothing and is answered with the value in force. A
// command whose value is shorter or longer than its size is answered as a
// query. SET-CONTROL values the port does not offer (DCD, DTR and DSR flow
// control) and unknown ones are answered with the flow control in force of
// their direction (outbound for unknown values). PURGE-DATA outside 1 to 3
// purges nothing and is answered with 0. A code that is no client command
// (a server code, an unknown one) is dropped unanswered. SIGNATURE, with
// or without the client's own text, is answered with "Vantrel Server
// <version>". The client's NOTIFY-MODEMSTATE and NOTIFY-LINESTATE are polls: each is
// answered at once with the state under its mask. FLOWCONTROL-SUSPEND and
// -RESUME are answered and set suspended(), which the relay honours: it
// stops and resumes sending the board's data; the engine holds its own
// notifications meanwhile and sends what changed at the resume.
//
// Threading contract. Two threads share one engine:
//  - the socket pump thread calls start() (first, before the other thread
//    runs) and from_client(); the line-control calls of com_port_line and
//    the sink's to_board() happen on it, from within from_client();
//  - the serial pump thread calls to_client(), report_modem_lines() and
//    report_line_errors(), and reads suspended().
// to_client() takes no lock and does not call the sink: the caller writes
// the encoded block to the client itself. The sink's to_client() is called
// from both threads, so the integrator serialises it with its own writes of
// encoded blocks (one lock around each whole write), which keeps protocol
// bytes out of the middle of an encoded block. The engine may call the sink
// while it holds its notification lock; the caller must therefore never
// call into the engine while it holds the lock that serialises writes to
// the client. Sink calls may block (a client that reads nothing).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

// Telnet command and option bytes.
enum : uint8_t {
    TELNET_SE = 240,
    TELNET_NOP = 241,
    TELNET_SB = 250,
    TELNET_WILL = 251,
    TELNET_WONT = 252,
    TELNET_DO = 253,
    TELNET_DONT = 254,
    TELNET_IAC = 255,
};
enum : uint8_t {
    TELNET_OPT_BINARY = 0,
    TELNET_OPT_ECHO = 1,
    TELNET_OPT_SGA = 3,
    TELNET_OPT_COM_PORT = 44,
};

// COM-PORT-OPTION commands, client to server; the server answers with
// COM_PORT_SERVER_OFFSET added.
enum : uint8_t {
    COM_PORT_SIGNATURE = 0,
    COM_PORT_SET_BAUDRATE = 1,
    COM_PORT_SET_DATASIZE = 2,
    COM_PORT_SET_PARITY = 3,
    COM_PORT_SET_STOPSIZE = 4,
    COM_PORT_SET_CONTROL = 5,
    COM_PORT_NOTIFY_LINESTATE = 6,
    COM_PORT_NOTIFY_MODEMSTATE = 7,
    COM_PORT_FLOWCONTROL_SUSPEND = 8,
    COM_PORT_FLOWCONTROL_RESUME = 9,
    COM_PORT_SET_LINESTATE_MASK = 10,
    COM_PORT_SET_MODEMSTATE_MASK = 11,
    COM_PORT_PURGE_DATA = 12,
    COM_PORT_SERVER_OFFSET = 100,
};

// SET-CONTROL values.
enum : uint8_t {
    COM_CONTROL_FLOW_QUERY = 0,
    COM_CONTROL_FLOW_NONE = 1,
    COM_CONTROL_FLOW_XON_XOFF = 2,
    COM_CONTROL_FLOW_HARDWARE = 3,
    COM_CONTROL_BREAK_QUERY = 4,
    COM_CONTROL_BREAK_ON = 5,
    COM_CONTROL_BREAK_OFF = 6,
    COM_CONTROL_DTR_QUERY = 7,
    COM_CONTROL_DTR_ON = 8,
    COM_CONTROL_DTR_OFF = 9,
    COM_CONTROL_RTS_QUERY = 10,
    COM_CONTROL_RTS_ON = 11,
    COM_CONTROL_RTS_OFF = 12,
    COM_CONTROL_INBOUND_QUERY = 13,
    COM_CONTROL_INBOUND_NONE = 14,
    COM_CONTROL_INBOUND_XON_XOFF = 15,
    COM_CONTROL_INBOUND_HARDWARE = 16,
    COM_CONTROL_FLOW_DCD = 17,
    COM_CONTROL_INBOUND_DTR = 18,
    COM_CONTROL_FLOW_DSR = 19,
};

// PURGE-DATA values: the server's receive buffer (what the board sent),
// its transmit buffer (what goes to the board), both.
enum : uint8_t {
    COM_PURGE_RECEIVE = 1,
    COM_PURGE_TRANSMIT = 2,
    COM_PURGE_BOTH = 3,
};

// NOTIFY-MODEMSTATE bits: the four lines and their change bits.
enum : uint8_t {
    COM_MODEM_DELTA_CTS = 0x01,
    COM_MODEM_DELTA_DSR = 0x02,
    COM_MODEM_RI_TRAILING_EDGE = 0x04,
    COM_MODEM_DELTA_CD = 0x08,
    COM_MODEM_CTS = 0x10,
    COM_MODEM_DSR = 0x20,
    COM_MODEM_RI = 0x40,
    COM_MODEM_CD = 0x80,
    COM_MODEM_LINES = COM_MODEM_CTS | COM_MODEM_DSR | COM_MODEM_RI | COM_MODEM_CD,
};

// NOTIFY-LINESTATE bits the engine reports: the line errors.
enum : uint8_t {
    COM_LINE_OVERRUN = 0x02,
    COM_LINE_PARITY = 0x04,
    COM_LINE_FRAMING = 0x08,
    COM_LINE_BREAK = 0x10,
};

// Line settings in RFC 2217's numbering.
enum class com_parity : uint8_t { none = 1, odd = 2, even = 3, mark = 4, space = 5 };
enum class com_stop_bits : uint8_t { one = 1, two = 2, one_and_half = 3 };
enum class com_flow : uint8_t { none, xon_xoff, hardware };

// The serial line as the engine drives it. A setter asks the device for a
// change and may fail silently: the engine reads the value in force back
// through the getter for its answer. Called on the socket pump thread only.
class com_port_line {
public:
    virtual ~com_port_line() = default;
    virtual void set_baud_rate(uint32_t baud) = 0;
    virtual uint32_t baud_rate() = 0;
    virtual void set_data_size(int bits) = 0; // 5 to 8
    virtual int data_size() = 0;
    virtual void set_parity(com_parity parity) = 0;
    virtual com_parity parity() = 0;
    virtual void set_stop_bits(com_stop_bits stop) = 0;
    virtual com_stop_bits stop_bits() = 0;
    virtual void set_outbound_flow(com_flow flow) = 0;
    virtual com_flow outbound_flow() = 0;
    virtual void set_inbound_flow(com_flow flow) = 0;
    virtual com_flow inbound_flow() = 0;
    virtual void set_break(bool on) = 0;
    virtual bool break_on() = 0;
    virtual void set_dtr(bool on) = 0;
    virtual bool dtr() = 0;
    virtual void set_rts(bool on) = 0;
    virtual bool rts() = 0;
    // Discards what the board sent and the port holds (input), what is
    // queued for the board (output), or both.
    virtual void purge(bool input, bool output) = 0;
    // The modem lines now: COM_MODEM_CTS, _DSR, _RI and _CD.
    virtual uint8_t modem_lines() = 0;
};

// Where the engine's bytes go. to_board() gets the board's data in order
// with the line-control calls, on the socket pump thread; to_client() gets
// protocol bytes (answers, notifications), from either thread.
class telnet_sink {
public:
    virtual ~telnet_sink() = default;
    virtual void to_board(const uint8_t* data, size_t size) = 0;
    virtual void to_client(const uint8_t* data, size_t size) = 0;
    // On the socket pump thread, with the notification lock held: whether
    // the client now wants to hear of modem line changes (the COM-PORT
    // option agreed and a modem-state mask other than 0), each time that
    // may have changed; and the client's FLOWCONTROL-RESUME, once
    // suspended() answers false again. Neither may call the engine.
    virtual void modem_watch_changed(bool wanted) { (void)wanted; }
    virtual void resumed() {}
};

class telnet_com_port {
public:
    // The longest subnegotiation kept (option byte and value).
    static constexpr size_t SUBNEGOTIATION_MAX = 256;
    // RFC 2217's masks at the start of a connection: every modem line
    // change is told, no line error.
    static constexpr uint8_t MODEM_MASK_INITIAL = 0xFF;
    static constexpr uint8_t LINE_MASK_INITIAL = 0;

    // Both stay the caller's and must outlive the engine.
    telnet_com_port(com_port_line& line, telnet_sink& sink);
    telnet_com_port(const telnet_com_port&) = delete;
    telnet_com_port& operator=(const telnet_com_port&) = delete;

    // Sends the opening offers. Call once, before anything else goes to the
    // client.
    void start();

    // Socket pump thread: one read from the client. The block is decoded in
    // place (it is changed); board bytes and answers leave through the sink.
    void from_client(uint8_t* data, size_t size);

    // Serial pump thread: the board's bytes for the client, encoded into
    // out, which has room for encoded_size_max(size) bytes. Returns the
    // count of encoded bytes.
    static constexpr size_t encoded_size_max(size_t size) { return 2 * size; }
    size_t to_client(const uint8_t* data, size_t size, uint8_t* out) const;

    // Serial pump thread: the modem lines now (COM_MODEM_* line bits), and
    // line errors seen (COM_LINE_* bits). A change the masks let through is
    // told the client.
    void report_modem_lines(uint8_t lines);
    void report_line_errors(uint8_t errors);

    // True while the client has suspended the data it gets.
    bool suspended() const { return suspended_.load(std::memory_order_acquire); }

private:
    enum class q : uint8_t { no, yes, want_yes };
    enum class parse : uint8_t { data, command, option, sub, sub_command };

    struct option_state {
        q us = q::no;  // our side: WILL/WONT from us, DO/DONT from the client
        q him = q::no; // the client's side: WILL/WONT from it, DO/DONT from us
    };

    void negotiate(uint8_t verb, uint8_t option);
    void enabled_changed(uint8_t option);
    void command(uint8_t byte);
    void subnegotiation_end();
    void com_port_command(uint8_t code, const uint8_t* value, size_t size);
    uint8_t set_control(uint8_t value);

    // Answers gathered while a client block is decoded; sent when full or
    // at the end of the block.
    void reply(const uint8_t* data, size_t size);
    void reply_option(uint8_t verb, uint8_t option);
    void reply_sub(uint8_t code, const uint8_t* value, size_t size);
    void flush_replies();
    // Board bytes decoded so far, out before any line-control call.
    void flush_board();

    // A notification in the client's encoding into out; its size.
    static size_t sub_message(uint8_t code, const uint8_t* value, size_t size, uint8_t* out);
    // Notifications, under notify_lock_: the modem state (lines and their
    // change bits since the client was last told) when `always` or when a
    // change passes the mask; the line errors not yet told.
    void send_modem_state_locked(uint8_t lines, bool always);
    void send_line_state_locked(bool always);

    com_port_line& line_;
    telnet_sink& sink_;

    // Socket pump thread only.
    option_state options_[256];
    parse state_ = parse::data;
    uint8_t verb_ = 0;          // the negotiation verb awaiting its option byte
    bool after_cr_ = false;     // the last data byte was CR (client side not binary)
    bool binary_from_client_ = false;
    uint8_t sub_[SUBNEGOTIATION_MAX];
    size_t sub_size_ = 0;
    bool sub_overflow_ = false;
    uint8_t* block_ = nullptr;   // the block from_client() decodes
    size_t board_start_ = 0;     // block_'s first byte not yet given to_board()
    size_t board_end_ = 0;       // one past its last decoded byte
    uint8_t replies_[512];
    size_t replies_size_ = 0;

    // Read by the serial pump thread.
    std::atomic<bool> binary_to_client_{false};
    std::atomic<bool> com_port_{false};
    std::atomic<bool> suspended_{false};

    // Shared notification state.
    std::mutex notify_lock_;
    uint8_t modem_mask_ = MODEM_MASK_INITIAL;
    uint8_t line_mask_ = LINE_MASK_INITIAL;
    uint8_t lines_now_ = 0;       // the modem lines last seen
    uint8_t lines_reported_ = 0;  // the lines the client was last told
    uint8_t line_errors_ = 0;     // errors not yet told
};
