#pragma once
// One service: its fields as the list shows them and the file keeps them
// (by column, as the table of service settings describes them), and the
// state of its worker.

#include "manager/client_state.h"
#include "manager/service_settings.h"
#include "port/named_event.h"
#include "port/process.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct ServiceRecord {
    // Every field as a service the user adds has it.
    ServiceRecord();

    // The field of a list column (the Status among them), as text.
    std::string& field(int column);
    const std::string& field(int column) const;

    std::string sortKey;               // this row's text in the column last sorted by
    bool active = false;               // a worker runs for this service
    bool errorReported = false;        // its worker has reported an error since the start
    port::NamedEvent stopEvent;        // set to ask the worker to end
    std::string eventName;             // the stop event's name, unique per record
    port::Process processInfo;         // the worker process
    std::optional<ClientState> client; // whom the worker serves, as it reported

private:
    std::array<std::string, SERVICE_COLUMNS> fields_;
};

// A record with the defaults and a fresh stop-event name, which takes one
// value of managerGlobals.serviceCounter.
std::unique_ptr<ServiceRecord> newServiceRecord();

// The flags word and the nine-word worker command line of a record. The
// report target is written as the unsigned decimal of its low 32 bits (a
// window handle's significant part).
int serviceLineFlags(const ServiceRecord& record);
std::string workerCommandLine(const ServiceRecord& record, uintptr_t reportTarget);
// The variables the worker's environment gets: one per setting that goes
// that way, empty (so not set) for an empty value.
port::Process::Environment workerEnvironment(const ServiceRecord& record);
