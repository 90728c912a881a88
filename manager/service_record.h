#pragma once
// One service: its configuration as the list shows it and the file keeps it,
// and the state of its worker. Members named like the configuration file's
// keys keep those names.

#include "manager/commands.h"
#include "port/named_event.h"
#include "port/process.h"

#include <cstdint>
#include <memory>
#include <string>

struct ServiceRecord {
    std::string name = "Service";
    std::string status;                // the Status column: "Active", an error text or empty
    std::string tcpip = "telnet";      // TCP/IP Port: the port number or service name to listen on
    std::string comport;               // Serial Port: the port's name, e.g. "COM1"
    std::string baudrate = "19200";    // Baud Rate, one of baudRateChoices
    std::string stopbits = "1";        // Stop Bits: "1" or "2"
    std::string handshake = "None";    // Handshake: "Xon/Xoff", "RTS/CTS" or "None"
    std::string parity = "None";       // Parity: "Even", "Odd" or "None"
    std::string dtro = "No";           // DTR on open: "Yes" holds DTR low for a second after opening
    std::string dtrc = "No";           // DTR on close: "Yes" holds DTR low for a second before closing
    std::string sortKey;               // this row's text in the column last sorted by

    bool active = false;               // a worker runs for this service
    bool errorReported = false;        // its worker has reported an error since the start
    port::NamedEvent stopEvent;        // set to ask the worker to end
    std::string eventName;             // the stop event's name, unique per record
    port::Process processInfo;         // the worker process

    // The record field shown in a list column (status included).
    std::string& field(int column);
    const std::string& field(int column) const;
};

// A record with the defaults and a fresh stop-event name, which takes one
// value of managerGlobals.serviceCounter.
std::unique_ptr<ServiceRecord> newServiceRecord();

// The flags word and the nine-word worker command line of a record. The
// report target is written as the unsigned decimal of its low 32 bits (a
// window handle's significant part).
int serviceLineFlags(const ServiceRecord& record);
std::string workerCommandLine(const ServiceRecord& record, uintptr_t reportTarget);
