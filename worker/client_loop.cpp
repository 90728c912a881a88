// The worker's client loop and its status report.

#include "worker/worker.h"

#include "worker/sharing.h"
#include "worker/worker_args.h"

#include "port/process.h"
#include "port/report.h"
#include "port/wake.h"
#include "tarn/tarn_internal.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr int LINE_SIZE = 256;
constexpr unsigned DTR_HOLD_MS = 1000;

// The stop event that worker_abort_check consults, and the time of its
// next real check (zero: the first call checks).
const port::NamedEvent* abort_event = nullptr;
tarn_time next_check{0, 0};

// Holds DTR where it is for one second, asleep. A stop object signalled
// meanwhile ends the hold early when one is given: the hold before the
// relay, which a stop then ends at once. The hold before the close always
// lasts its second, stop or not.
void hold_dtr(const port::WakeSet* cut_short_by = nullptr)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(DTR_HOLD_MS);
    // Bounded: each turn sleeps what is left; early wake-ups are rare.
    for (int turn = 0; turn < 100; ++turn) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return;
        if (cut_short_by && !cut_short_by->empty()) {
            if (cut_short_by->wait(static_cast<int>(left)))
                return;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(left));
        }
    }
}

// Tells the client why its serial port did not open, then waits until it
// goes away, has sent a line's worth, or the worker is asked to stop. The
// socket driver sleeps on the client and the stop objects between
// attempts, so the drain is idle.
void refuse_client(int server)
{
    char line[LINE_SIZE];
    tarn_write(server, line, worker_error_line(line, LINE_SIZE, tarn_error_text()));
    tarn_read_full(server, line, LINE_SIZE);
}

} // namespace

int worker_error_line(char* line, int size, const char* text)
{
    // "Error: " and "\n" take 8 bytes and the terminator one: a longer text
    // is cut so that the line still ends with its line break.
    const int room = size - 9;
    if (room < 0) {
        if (size > 0)
            line[0] = '\0';
        return 0;
    }
    int n = std::snprintf(line, static_cast<size_t>(size), "Error: %.*s\n", room, text);
    return n < size ? n : size - 1;
}

relay_protocol worker_protocol(int line_flags)
{
    return (static_cast<uint32_t>(line_flags) & WORKER_PROTOCOL_RFC2217) ? relay_protocol::rfc2217 : relay_protocol::raw;
}

int worker_abort_check()
{
    if (!tarn_time_passed(&next_check))
        return 0;
    tarn_now(&next_check);
    tarn_time_add(&next_check, 1, 0);
    if (!abort_event || !abort_event->valid())
        return 1;
    return abort_event->is_set() ? 1 : 0;
}

void worker_client_loop(port::NamedEvent& stop_event, const char* tcp_port, const char* serial_port,
                        const char* baud_rate, int line_flags, int dtro, int dtrc, uintptr_t report_target)
{
    abort_event = &stop_event;
    next_check = {0, 0};

    // What ends the worker's waits at once: its stop event and the end of
    // its manager, which stops it in the same way. A manager gone already
    // counts as a stop request made before the start; without a stop event
    // the callback ends the worker at its first wait.
    port::ManagerWatch manager;
    port::WakeSet stop;
    if (stop_event.valid()) {
        switch (manager.watch(report_target)) {
        case port::ManagerWatch::State::Gone: abort_event = nullptr; break;
        case port::ManagerWatch::State::Watching: stop.add(manager.native()); [[fallthrough]];
        default: stop.add(stop_event.native()); break;
        }
    }

    // Who may connect and what a second client gets; a setting the worker
    // cannot use ends it with the report.
    worker_sharing sharing;
    std::string refusal;
    if (!sharing.read(line_flags, refusal)) {
        stop_event.close();
        abort_event = nullptr;
        port::send_report(report_target, port::current_process_id(), refusal.c_str());
        return;
    }
    tarn_listen_on(sharing.listen_address());

    // Returns with the first client connected.
    int server = tarn_open(" server ", tcp_port, 0, worker_abort_check, &stop);
    if (server >= 0) {
        for (;;) {
            // A client outside the allow list is closed by the next accept,
            // before the serial port is opened.
            if (sharing.admit(server)) {
                relay_hooks hooks;
                sharing.prepare(hooks, server, stop);
                int serial = tarn_open(serial_port, baud_rate, line_flags & ~static_cast<int>(WORKER_BUSY_MASK | WORKER_PROTOCOL_RFC2217),
                                       worker_abort_check, &stop);
                if (serial < 0) {
                    refuse_client(server);
                } else {
                    if (dtro) {
                        tarn_set_dtr(serial, 0);
                        hold_dtr(&stop);
                        tarn_set_dtr(serial, 1);
                    }
                    tarn_relay(server, serial, stop, &hooks, worker_protocol(line_flags));
                    if (dtrc) {
                        tarn_set_dtr(serial, 0);
                        hold_dtr();
                    }
                    tarn_close(serial);
                }
                sharing.left(hooks);
            }
            // Drops the client and waits for the next one (or takes the
            // one that took over).
            if (tarn_accept(server) != 0)
                break;
        }
    }

    stop_event.close();
    abort_event = nullptr;
    if (tarn_error == TARN_ERR_ABORTED) {
        // Asked to stop: end silently.
        tarn_close(server);
        return;
    }
    port::send_report(report_target, port::current_process_id(), tarn_error_text());
}
