// A manager stand-in for tests that drive the Windows worker from Linux:
// run under Wine, it makes the named stop event and a report window,
// starts vantrel.exe hidden with the eight words, and talks over its
// standard streams.
//
//   wine_manager <vantrel.exe> <event name> <tcp> <serial> <baud> <flags> <dtro> <dtrc>
//
// Writes "started <pid>" (or "failed"); "client <kind> <address> <port>
// <to board> <to client> <reason>" for each client report as it comes (the
// worker finds the receiver through its environment); once the worker has
// ended, "report <text>" for every status report it sent and "ended <exit
// code>". Reads
// "stop" lines: each sets the stop event; the end of its input does too,
// and a worker still running 5 s later is ended.

#include "port/client_report.h"
#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string quote(const std::string& word) { return "\"" + word + "\""; }

} // namespace

int main(int argc, char** argv)
{
    if (argc != 9) {
        std::fprintf(stderr, "usage: wine_manager <vantrel.exe> <event> <tcp> <serial> <baud> <flags> <dtro> <dtrc>\n");
        return 2;
    }
    port::ReportReceiver receiver;
    port::ClientReportReceiver clients;
    static const char* const kinds[] = {"", "served", "progress", "left", "refused"};
    static const char* const reasons[] = {"none", "taken-over", "busy", "not-allowed"};
    const bool clientsOpen = clients.open([](uint32_t, const port::ClientReport& r) {
        std::printf("client %s %s %u %llu %llu %s\n", kinds[static_cast<int>(r.kind)],
                    port::format_ip_address(r.address).c_str(), static_cast<unsigned>(r.port),
                    static_cast<unsigned long long>(r.to_board), static_cast<unsigned long long>(r.to_client),
                    reasons[static_cast<int>(r.reason)]);
        std::fflush(stdout);
    });
    port::NamedEvent stop = port::NamedEvent::create(argv[2]);
    port::Process worker;
    std::string line = quote(argv[1]) + " " + quote(argv[2]) + " " + quote(argv[3]) + " " + quote(argv[4]);
    for (int i = 5; i < 9; ++i)
        line += std::string(" ") + argv[i];
    const port::Process::Environment environment = {
        {port::CLIENT_REPORT_VARIABLE, std::to_string(static_cast<uint32_t>(clients.target()))}};
    if (!clientsOpen || !receiver.open() || !stop.valid()
        || !port::Process::start_hidden(line + " " + std::to_string(receiver.target()), worker, environment)) {
        std::printf("failed\n");
        std::fflush(stdout);
        return 1;
    }
    std::printf("started %u\n", static_cast<unsigned>(worker.id()));
    std::fflush(stdout);

    // Static: the reader thread is detached and may outlive main's frame.
    static std::atomic<int> stops{0};
    static std::atomic<bool> gone{false};
    std::thread([] {
        std::string command;
        while (std::getline(std::cin, command))
            if (command.rfind("stop", 0) == 0)
                ++stops;
        gone = true; // the test has gone: stop, and end the worker if it stays
        ++stops;
    }).detach();

    std::vector<std::string> reports;
    int stops_seen = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    bool gone_seen = false;
    while (worker.wait(10) != port::WaitResult::Ended) {
        if (gone && !gone_seen) {
            gone_seen = true;
            end = std::min(end, std::chrono::steady_clock::now() + std::chrono::seconds(5));
        }
        receiver.dispatch([&](uint32_t, const char* text) {
            reports.emplace_back(text);
            return true;
        });
        clients.dispatch();
        if (stops.load() != stops_seen) {
            stops_seen = stops.load();
            stop.set();
        }
        if (std::chrono::steady_clock::now() > end) {
            worker.terminate(1);
            worker.wait(5000);
            break;
        }
    }
    receiver.dispatch([&](uint32_t, const char* text) {
        reports.emplace_back(text);
        return true;
    });
    uint32_t code = 0;
    if (!worker.exit_code(code))
        code = 0xffffffffu;
    for (const std::string& r : reports)
        std::printf("report %s\n", r.c_str());
    std::printf("ended %u\n", static_cast<unsigned>(code));
    std::fflush(stdout);
    return 0;
}
