// A stand-in worker for the supervision tests. It takes the nine words of
// the worker command line and behaves as its TCP/IP word says:
//   exit      ends at once
//   obey      ends when its stop event is set
//   ignore    never looks at its stop event (ends by itself after a minute)
//   report    sends $VANTREL_FAKE_REPORT as its status report, then ends
//   clients   sends client reports (served, refused, taken over, served,
//             progress), leaves <event>.reported (the receiver's number),
//             then behaves as obey; at its stop the client leaves
//   together  like obey, but after its stop it waits until
//             $VANTREL_FAKE_PEERS workers have seen theirs
// With $VANTREL_FAKE_DIR set it leaves there <event>.args (its words, one a
// line), <event>.env (the worker's variables of its environment, one
// "NAME=value" a line, "NAME" alone when not set), <event>.stopped when it
// sees its stop and <event>.done when it ends by itself.

#include "port/client_report.h"
#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string folder()
{
    const char* dir = std::getenv("VANTREL_FAKE_DIR");
    return dir ? dir : "";
}

void leave(const std::string& event, const char* suffix, const std::string& text = "")
{
    if (folder().empty())
        return;
    std::string path = folder() + "/" + event + suffix;
    {
        std::ofstream out(path + ".tmp");
        out << text;
    }
    std::filesystem::rename(path + ".tmp", path);
}

int stoppedPeers()
{
    int n = 0;
    for (auto& entry : std::filesystem::directory_iterator(folder()))
        if (entry.path().extension() == ".stopped")
            ++n;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 9)
        return 2;
    std::string event = argv[1];
    std::string mode = argv[2];
    std::string words;
    for (int i = 0; i < argc; ++i)
        words += std::string(argv[i]) + "\n";
    leave(event, ".args", words);
    std::string variables;
    for (const char* name : {"VANTREL_LISTEN", "VANTREL_ALLOW"}) {
        const char* value = std::getenv(name);
        variables += std::string(name) + (value ? std::string("=") + value : "") + "\n";
    }
    leave(event, ".env", variables);

    if (mode == "exit") {
        leave(event, ".done");
        return 0;
    }
    if (mode == "ignore") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    if (mode == "report") {
        const char* text = std::getenv("VANTREL_FAKE_REPORT");
        port::send_report(std::strtoull(argv[8], nullptr, 10), port::current_process_id(), text ? text : "");
        leave(event, ".done");
        return 0;
    }

    if (mode == "clients") {
        port::ClientReportSender sender(port::ClientReportSender::target_from_environment());
        using Report = port::ClientReport;
        auto report = [&](Report::Kind kind, Report::Reason reason, const char* address, uint16_t port,
                          uint64_t toBoard, uint64_t toClient) {
            Report r;
            r.kind = kind;
            r.reason = reason;
            port::parse_ip_address(address, r.address);
            r.port = port;
            r.since = 1700000000;
            r.to_board = toBoard;
            r.to_client = toClient;
            return sender.send(r);
        };
        const bool sent = report(Report::Kind::Served, Report::Reason::None, "::ffff:127.0.0.1", 40000, 0, 0)
                          && report(Report::Kind::Refused, Report::Reason::NotAllowed, "127.0.0.2", 40001, 0, 0)
                          && report(Report::Kind::Refused, Report::Reason::Busy, "10.0.0.9", 40003, 0, 0)
                          && report(Report::Kind::Left, Report::Reason::TakenOver, "127.0.0.1", 40000, 5, 7)
                          && report(Report::Kind::Served, Report::Reason::None, "::1", 40002, 0, 0)
                          && report(Report::Kind::Progress, Report::Reason::None, "::1", 40002, 11, 13);
        if (!sent)
            return 5;
        const char* target = std::getenv(port::CLIENT_REPORT_VARIABLE);
        leave(event, ".reported", target ? target : "");
    }

    port::NamedEvent stop = port::NamedEvent::open(event);
    if (!stop.valid() || !stop.wait(60000))
        return 3;
    leave(event, ".stopped");
    if (mode == "clients") {
        // The client served leaves at the stop, with its final counts.
        port::ClientReportSender sender(port::ClientReportSender::target_from_environment());
        port::ClientReport left;
        left.kind = port::ClientReport::Kind::Left;
        port::parse_ip_address("::1", left.address);
        left.port = 40002;
        left.since = 1700000000;
        left.to_board = 21;
        left.to_client = 34;
        sender.send(left);
    }
    if (mode == "together") {
        int peers = std::atoi(std::getenv("VANTREL_FAKE_PEERS"));
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (stoppedPeers() < peers) {
            if (std::chrono::steady_clock::now() > deadline)
                return 4;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    leave(event, ".done");
    return 0;
}
