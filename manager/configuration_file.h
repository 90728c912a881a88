#pragma once
// The configuration file vantrel.ini by its fixed format: reading it into
// stored values (the [General] section and every service section) and
// writing the manager's state back as its text, key by key, with the
// format's padding, its spelling and its section numbers; and the
// autostart entry that a save derives from it. Where the file lives and
// how it is replaced is port/config.h's; reading by the private-profile
// rules is port/profile.h's.

#include "manager/front_end.h"
#include "manager/service_record.h"
#include "manager/service_settings.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace port {
class Profile;
}
class ServiceRows;

// The [General] section as read: each value the file lacks at its default.
struct StoredGeneral {
    bool autostart = false;
    WindowFields placement; // "minimized" included
    // Each column's width in pixels, -1 where none is stored (all of them
    // unless "columns = 10").
    std::array<int, SERVICE_COLUMNS> columnWidths{};
};

// A service as the file stores it: its settings and whether it is to run.
struct StoredService {
    // The settings by list column, as ServiceRecord::field names them; a
    // column that is not stored (the Status) stays empty.
    std::array<std::string, SERVICE_COLUMNS> fields;
    bool active = false; // "active = 1": the service runs
};

StoredGeneral readGeneral(const port::Profile& profile);

// The file's services in its order: every [ServiceK] section present, with
// each value that its setting refuses replaced by the setting's default
// (kept as it is where the setting has a start refusal).
std::vector<StoredService> readStoredServices(const port::Profile& profile);

// What the [General] section is written from.
struct GeneralToSave {
    bool autostart = false;
    WindowRect normalRect;           // the window's restored placement
    std::optional<int> minimized;    // written only at the end of the user's session
    std::array<int, SERVICE_COLUMNS> columnWidths{};
};

// The whole file as text, lines ending in "\n", the services numbered from
// 1 in row order.
std::string configurationText(const GeneralToSave& general, const ServiceRows& rows);

// Replaces the configuration file with `text`; false when nothing was saved.
bool writeConfigurationFile(const std::string& text);

// Makes the autostart entry follow the check box.
void updateAutostart(bool enabled);

// A new record with the stored settings, not running.
std::unique_ptr<ServiceRecord> newServiceRecord(const StoredService& stored);

// Whether the record has the stored settings that a headless reload
// compares: those whose change restarts the service and, with
// `takenOverToo`, also those it takes over in place (the name).
bool hasStoredSettings(const ServiceRecord& record, const StoredService& stored, bool takenOverToo = true);
