#pragma once
// The client's side of Telnet with the COM-PORT option, for the end-to-end
// tests of RFC 2217 services: commands as a client writes them, and what
// the worker sends split into the board's data and the worker's commands.

#include "worker/telnet_com_port.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace telnet {

inline std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

inline std::string option(int verb, int opt) { return bytes({TELNET_IAC, verb, opt}); }

// Data with its IACs doubled.
inline std::string escape(const std::string& data)
{
    std::string out;
    for (char c : data) {
        out.push_back(c);
        if (c == '\xff')
            out.push_back(c);
    }
    return out;
}

// IAC SB COM-PORT code value IAC SE, the value's IACs doubled.
inline std::string sub(int code, const std::string& value = {})
{
    return bytes({TELNET_IAC, TELNET_SB, TELNET_OPT_COM_PORT, code}) + escape(value)
           + bytes({TELNET_IAC, TELNET_SE});
}
inline std::string sub(int code, int value) { return sub(code, bytes({value})); }

// The worker's answer to a client's command.
inline std::string answer(int code, const std::string& value = {}) { return sub(code + COM_PORT_SERVER_OFFSET, value); }
inline std::string answer(int code, int value) { return answer(code, bytes({value})); }

// The worker's offers at connect, in their order.
inline std::string offers()
{
    return option(TELNET_WILL, TELNET_OPT_BINARY) + option(TELNET_WILL, TELNET_OPT_SGA)
           + option(TELNET_WILL, TELNET_OPT_ECHO) + option(TELNET_WILL, TELNET_OPT_COM_PORT)
           + option(TELNET_DO, TELNET_OPT_BINARY);
}

// The offers taken as a client of RFC 2217 takes them.
inline std::string agreement()
{
    return option(TELNET_DO, TELNET_OPT_BINARY) + option(TELNET_DO, TELNET_OPT_SGA) + option(TELNET_DO, TELNET_OPT_ECHO)
           + option(TELNET_DO, TELNET_OPT_COM_PORT) + option(TELNET_WILL, TELNET_OPT_BINARY);
}

// What the worker sent, fed in any pieces.
class Stream {
public:
    void feed(const std::string& in)
    {
        for (char c : in) {
            const auto b = static_cast<unsigned char>(c);
            if (!command_.empty()) {
                command_.push_back(c);
                if (whole())
                    commands.push_back(std::move(command_)), command_.clear();
            } else if (pending_iac_) {
                pending_iac_ = false;
                if (b == TELNET_IAC)
                    data.push_back(c);
                else {
                    command_ = bytes({TELNET_IAC}) + c;
                    if (whole())
                        commands.push_back(std::move(command_)), command_.clear();
                }
            } else if (b == TELNET_IAC) {
                pending_iac_ = true;
            } else {
                data.push_back(c);
            }
        }
    }

    std::string data;                  // the board's bytes
    std::vector<std::string> commands; // each whole, as sent

private:
    // An option verb takes one byte, a subnegotiation runs to IAC SE (an
    // IAC IAC inside it is a value byte), any other command is two bytes.
    bool whole() const
    {
        const auto verb = static_cast<unsigned char>(command_[1]);
        if (verb >= TELNET_WILL && verb <= TELNET_DONT)
            return command_.size() == 3;
        if (verb != TELNET_SB)
            return true;
        size_t iacs = 0;
        for (size_t i = command_.size() - 1; i > 1 && command_[i - 1] == '\xff'; --i)
            ++iacs;
        return command_.size() >= 4 && command_.back() == static_cast<char>(TELNET_SE) && iacs % 2 == 1;
    }

    std::string command_;
    bool pending_iac_ = false;
};

} // namespace telnet
