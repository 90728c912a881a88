// A Windows program for the Wine tests of the serial layer's line control:
// it opens the COM port of its argument, then carries out one command a
// line from its standard input and answers one line on its standard output,
// so that a driver on the Linux side can look at the terminal after each.
//
//   wine_line_control <COMn>
//
// Commands: "baud N", "bits N", "parity none|odd|even|mark|space",
// "stop 1|1.5|2", "out none|xon|rts", "in none|xon|rts", "rts 0|1",
// "break 0|1", "purge in|out|both" answer "ok" or "refused"; "settings"
// answers "settings <baud> <bits> <parity> <stop> <out> <in>" in the words
// above, "control" answers "control <dtr> <rts> <break>", "modem" answers
// "modem <lines>" (hexadecimal, SERIAL_MODEM_*). The first line is "open"
// or "not open".

#include "port/serial.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

const char* const parities[] = {"none", "odd", "even", "mark", "space"};
const char* const stops[] = {"1", "1.5", "2"};
const char* const flows[] = {"none", "xon", "rts"};

template <typename Enum, size_t N>
bool word_to(const char* const (&words)[N], const std::string& word, Enum& out)
{
    for (size_t i = 0; i < N; ++i)
        if (word == words[i]) {
            out = static_cast<Enum>(i);
            return true;
        }
    return false;
}

std::string run(port::SerialPort& port, const std::string& line)
{
    std::istringstream in(line);
    std::string command, arg;
    in >> command >> arg;
    bool done = false;
    if (command == "settings") {
        port::SerialSettings s;
        if (!port.settings(s))
            return "refused";
        return "settings " + std::to_string(s.baud) + " " + std::to_string(s.data_bits) + " "
               + parities[static_cast<int>(s.parity)] + " " + stops[static_cast<int>(s.stop_bits)] + " "
               + flows[static_cast<int>(s.outbound)] + " " + flows[static_cast<int>(s.inbound)];
    } else if (command == "control") {
        port::SerialControl c;
        if (!port.control_lines(c))
            return "refused";
        return "control " + std::to_string(c.dtr) + " " + std::to_string(c.rts) + " " + std::to_string(c.break_on);
    } else if (command == "modem") {
        uint32_t lines = 0;
        if (!port.modem_lines(lines))
            return "refused";
        char text[16];
        std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(lines));
        return std::string("modem ") + text;
    } else if (command == "baud") {
        done = port.set_baud_rate(std::stol(arg));
    } else if (command == "bits") {
        done = port.set_data_bits(std::stoi(arg));
    } else if (port::SerialParity p; command == "parity" && word_to(parities, arg, p)) {
        done = port.set_parity(p);
    } else if (port::SerialStopBits s; command == "stop" && word_to(stops, arg, s)) {
        done = port.set_stop_bits(s);
    } else if (port::SerialFlow f; command == "out" && word_to(flows, arg, f)) {
        done = port.set_outbound_flow(f);
    } else if (port::SerialFlow f; command == "in" && word_to(flows, arg, f)) {
        done = port.set_inbound_flow(f);
    } else if (command == "rts") {
        done = port.set_rts(arg == "1");
    } else if (command == "break") {
        done = port.set_break(arg == "1");
    } else if (command == "purge") {
        done = port.purge(arg != "out", arg != "in");
    } else {
        return "unknown";
    }
    return done ? "ok" : "refused";
}

} // namespace

int main(int argc, char** argv)
{
    port::SerialPort port;
    const bool open = argc == 2 && port.open(argv[1]) && port.apply_line_settings(9600, 0) && port.raise_dtr();
    std::printf("%s\n", open ? "open" : "not open");
    std::fflush(stdout);
    if (!open)
        return 1;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::printf("%s\n", run(port, line).c_str());
        std::fflush(stdout);
    }
    return 0;
}
