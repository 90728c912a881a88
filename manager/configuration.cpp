// The configuration file and the autostart entry derived from it.

#include "manager/service_table.h"

#include "manager/manager_globals.h"
#include "manager/stored_service.h"
#include "manager/window_placement.h"
#include "port/autostart.h"
#include "port/config.h"
#include "port/profile.h"

#include <algorithm>
#include <cstdio>

namespace {

// The most services a file holds: sections numbered beyond it are not read.
constexpr int MAX_SERVICES = 10000;

std::string checked(const std::string& value, const std::vector<std::string>& domain,
                    const char* fallback)
{
    return std::find(domain.begin(), domain.end(), value) != domain.end() ? value : fallback;
}

// Values are written as they are, but a line break inside one would end
// its line early and let the rest be read as keys of their own.
std::string oneLine(std::string value)
{
    std::replace_if(value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return value;
}

std::string serviceSection(int number)
{
    char section[32];
    std::snprintf(section, sizeof section, "Service%d", number);
    return section;
}

// The numbers K of the sections [ServiceK] to read, in order: every one
// present from 1 up to the larger of the stored count and the highest
// section found, at most MAX_SERVICES. So the count decides nothing: one
// too large invents no service, one too small (or none, or a damaged one)
// loses none, and a section taken out of the middle by hand keeps every
// service after it. The next save writes a sound count and numbers the
// sections from 1 again.
std::vector<int> serviceSectionNumbers(const port::Profile& profile)
{
    std::vector<int> numbers;
    for (int k = 1; k <= MAX_SERVICES; ++k)
        if (profile.has_section(serviceSection(k).c_str()))
            numbers.push_back(k);
    return numbers;
}

void print(std::string& out, const char* format, int value)
{
    char line[64];
    std::snprintf(line, sizeof line, format, value);
    out += line;
}

void print(std::string& out, const char* key, const std::string& value)
{
    out += key;
    out += oneLine(value);
    out += '\n';
}

} // namespace

std::vector<StoredService> readStoredServices(const port::Profile& profile)
{
    std::vector<StoredService> services;
    for (int k : serviceSectionNumbers(profile)) {
        std::string name = serviceSection(k);
        const char* section = name.c_str();
        StoredService stored;
        auto& f = stored.fields;
        f[COLUMN_NAME] = profile.get_string(section, "name", "");
        f[COLUMN_TCPIP] = profile.get_string(section, "tcpip", "");
        f[COLUMN_COMPORT] = profile.get_string(section, "comport", "");
        f[COLUMN_BAUDRATE] = checked(profile.get_string(section, "baudrate", "19200"), baudRateChoices, "19200");
        f[COLUMN_HANDSHAKE] = checked(profile.get_string(section, "handshake", "None"), handshakeChoices, "None");
        f[COLUMN_PARITY] = checked(profile.get_string(section, "parity", "None"), parityChoices, "None");
        f[COLUMN_STOPBITS] = checked(profile.get_string(section, "stopbits", "1"), stopBitsChoices, "1");
        f[COLUMN_DTRO] = checked(profile.get_string(section, "dtro", "No"), dtroChoices, "No");
        f[COLUMN_DTRC] = checked(profile.get_string(section, "dtrc", "No"), dtrcChoices, "No");
        stored.active = profile.get_int(section, "active", 0) != 0;
        services.push_back(std::move(stored));
    }
    return services;
}

std::unique_ptr<ServiceRecord> newServiceRecord(const StoredService& stored)
{
    auto service = newServiceRecord();
    for (int column = 0; column < SERVICE_COLUMNS; ++column)
        if (column != COLUMN_STATUS)
            service->field(column) = stored.fields[column];
    return service;
}

bool hasStoredSettings(const ServiceRecord& record, const StoredService& stored, bool withName)
{
    for (int column = 0; column < SERVICE_COLUMNS; ++column) {
        if (column == COLUMN_STATUS || (column == COLUMN_NAME && !withName))
            continue;
        if (record.field(column) != stored.fields[column])
            return false;
    }
    return true;
}

void ServiceTable::loadConfiguration()
{
    port::Profile profile(CONFIG_FILE_NAME);
    loadConfiguration(profile);
}

void ServiceTable::loadConfiguration(const port::Profile& profile)
{
    if (profile.get_int("General", "autostart", 0) != 0)
        frontEnd_.setAutostartChecked(true);
    WindowFields& fields = frontEnd_.windowFields();
    fields.xpos = profile.get_int("General", "xpos", 0);
    fields.ypos = profile.get_int("General", "ypos", 0);
    fields.width = profile.get_int("General", "width", 0);
    fields.height = profile.get_int("General", "heigth", 0); // the file format's spelling
    fields.minimized = profile.get_int("General", "minimized", 0);

    if (profile.get_int("General", "columns", 0) == SERVICE_COLUMNS) {
        for (int column = 0; column < SERVICE_COLUMNS; ++column) {
            char key[16];
            std::snprintf(key, sizeof key, "column%d", column);
            int width = profile.get_int("General", key, -1);
            if (width >= 0)
                frontEnd_.setColumnWidth(column, storedColumnWidth(width & 0xFFFF));
        }
    }

    for (const StoredService& stored : readStoredServices(profile)) {
        int row = addService(newServiceRecord(stored));
        if (row >= 0 && stored.active)
            startService(row);
    }
}

void ServiceTable::saveConfiguration(bool endingSession)
{
    updateAutostart();

    WindowRect rect = frontEnd_.normalRect();
    std::string out = "[General]\n";
    print(out, "autostart = %d\n", frontEnd_.autostartChecked() ? 1 : 0);
    print(out, "services   = %d\n", count());
    print(out, "xpos      = %d\n", rect.left);
    print(out, "ypos      = %d\n", rect.top);
    print(out, "width     = %d\n", rect.right - rect.left);
    print(out, "heigth    = %d\n", rect.bottom - rect.top); // the file format's spelling
    if (endingSession)
        print(out, "minimized = %d\n", frontEnd_.windowFields().minimized);
    print(out, "columns   = %d\n", SERVICE_COLUMNS);
    for (int column = 0; column < SERVICE_COLUMNS; ++column) {
        char line[64];
        std::snprintf(line, sizeof line, "column%d   = %d\n", column, frontEnd_.columnWidth(column));
        out += line;
    }
    for (int row = 0; row < count(); ++row) {
        print(out, "\n[Service%d]\n", row + 1);
        const ServiceRecord* service = rows_[row].get();
        if (!service)
            continue;
        print(out, "name      = ", service->name);
        print(out, "tcpip     = ", service->tcpip);
        print(out, "comport   = ", service->comport);
        print(out, "baudrate  = ", service->baudrate);
        print(out, "handshake = ", service->handshake);
        print(out, "parity    = ", service->parity);
        print(out, "stopbits  = ", service->stopbits);
        print(out, "dtro      = ", service->dtro);
        print(out, "dtrc      = ", service->dtrc);
        print(out, "active    = %d\n", service->active ? 1 : 0);
    }
    port::save_config_file(CONFIG_FILE_NAME, out);
}

void ServiceTable::updateAutostart()
{
    port::set_autostart(AUTOSTART_VALUE_NAME, managerGlobals.modulePath, frontEnd_.autostartChecked());
}
