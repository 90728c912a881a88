// A stand-in manager for the worker tests: it creates a stop event whose
// name carries its process id, opens a report endpoint, starts the real
// vantrel as its worker and writes the worker's process id to a file. Then
// it handles reports until it is killed, for at most 60 s; after that it
// stops its worker and ends.
//
//   manager_helper <event stem> <pid file> <tcp port> <serial port> <baud> <flags> <dtro> <dtrc>

#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 9)
        return 100;
    const std::string event_name = std::string(argv[1]) + std::to_string(port::current_process_id()) + "_1";
    port::NamedEvent stop = port::NamedEvent::create(event_name);
    port::ReportReceiver receiver;
    if (!stop.valid() || !receiver.open())
        return 101;
    const std::string line = std::string("\"") + VANTREL_EXE + "\" \"" + event_name + "\" \"" + argv[3] + "\" \""
                             + argv[4] + "\" " + argv[5] + " " + argv[6] + " " + argv[7] + " " + argv[8] + " "
                             + std::to_string(receiver.target());
    port::Process worker;
    if (!port::Process::start_hidden(line, worker))
        return 102;
    FILE* f = std::fopen(argv[2], "w");
    if (!f)
        return 103;
    std::fprintf(f, "%u\n", static_cast<unsigned>(worker.id()));
    std::fclose(f);
    for (int i = 0; i < 600; ++i) {
        receiver.dispatch([](uint32_t, const char*) { return true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    stop.set();
    worker.wait(10000);
    return 0;
}
