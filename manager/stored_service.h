#pragma once
// A service as the configuration file stores it: its settings and whether
// it is to run. Loading builds the table from these; headless mode also
// compares them with the table when it reads the file again.

#include "manager/service_settings.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace port {
class Profile;
}
struct ServiceRecord;

struct StoredService {
    // The settings by list column, as ServiceRecord::field names them; a
    // column that is not stored (the Status) stays empty.
    std::array<std::string, SERVICE_COLUMNS> fields;
    bool active = false; // "active = 1": the service runs
};

// The file's services in its order, each value outside its domain replaced
// by the default, as loading does.
std::vector<StoredService> readStoredServices(const port::Profile& profile);

// A new record with the stored settings, not running.
std::unique_ptr<ServiceRecord> newServiceRecord(const StoredService& stored);

// Whether the record has the stored settings that a headless reload
// compares: those whose change restarts the service and, with
// `takenOverToo`, also those it takes over in place (the name).
bool hasStoredSettings(const ServiceRecord& record, const StoredService& stored, bool takenOverToo = true);
