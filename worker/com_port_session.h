#pragma once
// One client connection of an RFC 2217 service, between the relay's two
// pumps and the Telnet engine (telnet_com_port.h), whose line is the serial
// port (com_port_serial.h). The session keeps the engine's answers and the
// board's encoded blocks whole on their way to the client (one lock around
// each whole write, never held while calling the engine), wakes the serial
// pump when the client resumes the data it suspended, turns the port's
// line errors into NOTIFY-LINESTATE and its modem lines into
// NOTIFY-MODEMSTATE, and tells the relay when the modem lines need polling:
// only where the port has no event for them, and only while the client
// wants to hear of them.
//
// Threads: the relay's own calls start() before the pumps run, and polls
// the modem lines (it only asks the port: what the client is told, the
// serial pump tells, so that a client that reads nothing never holds the
// relay's own thread); the socket pump calls from_client(); the serial pump
// from_board(), report_line_errors(), report_modem_lines() and
// wait_while_suspended().

#include "port/serial.h"
#include "port/wake.h"
#include "worker/com_port_serial.h"
#include "worker/telnet_com_port.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class com_port_session : private telnet_sink {
public:
    // Writes all of a block to the client; false when the connection
    // failed. A write cut short because the relay ends counts as done.
    using client_writer = std::function<bool(const char* data, int size)>;
    // Hands a stretch of the client's data to the board; false drops the
    // rest of the block's data (the relay ends, or the write failed). A
    // reference to the caller's callable, made without allocating.
    class board_writer {
    public:
        template <typename F>
        board_writer(F& write)
            : object_(&write), call_([](void* o, const char* d, int n) { return (*static_cast<F*>(o))(d, n); })
        {
        }
        bool operator()(const char* data, int size) const { return call_(object_, data, size); }

    private:
        void* object_;
        bool (*call_)(void*, const char*, int);
    };

    // The port stays the caller's and must outlive the session; blocks
    // from the board are at most block_size bytes.
    com_port_session(port::SerialPort& serial, client_writer write_client, int block_size);
    com_port_session(const com_port_session&) = delete;
    com_port_session& operator=(const com_port_session&) = delete;

    // False when its wake-up events could not be made.
    bool valid() const { return resumed_event_.valid() && watch_event_.valid(); }

    // The opening offers; before the pumps run.
    void start() { engine_.start(); }

    // Socket pump: one block from the client, decoded in place; the
    // board's data leave through to_board, in order with the line control.
    void from_client(char* data, int size, const board_writer& to_board);

    // Serial pump: the board's block, encoded for the client and written
    // whole; false when the write to the client failed.
    bool from_board(const char* data, int size);
    // Serial pump: line errors the port reported (port::SERIAL_ERR_*).
    void report_line_errors(uint32_t serial_errors)
    {
        if (serial_errors)
            engine_.report_line_errors(com_port_line_errors(serial_errors));
    }
    // Serial pump: the port's modem lines now, asked of it, at a modem
    // event or when the relay's thread found them changed.
    void report_modem_lines()
    {
        modem_report_due_.store(false);
        uint32_t lines = 0;
        if (serial_.modem_lines(lines))
            engine_.report_modem_lines(com_port_modem_lines(lines));
    }
    bool modem_report_due() const { return modem_report_due_.load(); }
    // Serial pump: while the client has suspended the board's data, waits
    // for its resume; false when `ending` ended the wait.
    bool wait_while_suspended(const port::WakeSet& ending);

    // The relay's thread: whether the modem lines are to be polled now;
    // the event set each time that may have changed (watch_seen() resets
    // it, before polls_modem_lines() is asked again).
    bool polls_modem_lines() const { return polled_ && modem_wanted_.load(); }
    // The relay's thread, each MODEM_POLL time: asks the port for its
    // modem lines; true when they changed since the last look, and the
    // serial pump is then to be woken (port::SerialPort::wake_event_wait)
    // to tell the client.
    bool poll_modem_lines();
    intptr_t watch_event() const { return watch_event_.native(); }
    void watch_seen() { watch_event_.reset(); }

    // True once a write to the client failed: the pumps end.
    bool client_failed() const { return client_failed_.load(); }

    // After the pumps: a break the client left on the line is taken off.
    void finish();

    // The event mask the serial pump asks the port for.
    uint32_t event_mask() const;

private:
    void to_board(const uint8_t* data, size_t size) override;
    void to_client(const uint8_t* data, size_t size) override;
    void modem_watch_changed(bool wanted) override;
    void resumed() override { resumed_event_.set(); }

    bool write_to_client(const char* data, int size);

    port::SerialPort& serial_;
    com_port_serial line_;
    telnet_com_port engine_;
    client_writer write_client_;
    std::mutex client_lock_; // one whole block to the client at a time
    std::atomic<bool> client_failed_{false};

    // Socket pump, within from_client().
    const board_writer* board_ = nullptr;
    bool board_stopped_ = false;

    // Serial pump: room for an encoded block.
    std::vector<uint8_t> encoded_;

    port::WakeEvent resumed_event_;
    port::WakeEvent watch_event_;
    std::atomic<bool> modem_wanted_{false};
    const bool polled_; // the port's modem lines are learnt by asking
    uint32_t polled_lines_ = 0; // the relay's thread: the lines at its last look
    std::atomic<bool> modem_report_due_{false};
};
