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

// Values are written as they are, but a line break inside one would end
// its line early and let the rest be read as keys of their own.
std::string oneLine(std::string value)
{
    std::replace_if(value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return value;
}

std::string serviceSection(int number)
{
    return "Service" + std::to_string(number);
}

std::string columnKey(int column)
{
    return "column" + std::to_string(column);
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

// One line "key = value": the key padded with blanks to CONFIG_KEY_WIDTH.
void putLine(std::string& out, const std::string& key, const std::string& value)
{
    out += key;
    out.append(CONFIG_KEY_WIDTH - std::min(CONFIG_KEY_WIDTH - 1, key.size()), ' ');
    out += "= ";
    out += oneLine(value);
    out += '\n';
}

void putLine(std::string& out, const std::string& key, int value)
{
    putLine(out, key, std::to_string(value));
}

} // namespace

std::vector<StoredService> readStoredServices(const port::Profile& profile)
{
    std::vector<StoredService> services;
    for (int k : serviceSectionNumbers(profile)) {
        const std::string section = serviceSection(k);
        StoredService stored;
        for (const ServiceSetting& setting : serviceSettings) {
            if (!setting.key)
                continue;
            std::string value = profile.get_string(section.c_str(), setting.key, setting.readDefault);
            stored.fields[setting.column] = settingAccepts(setting, value) ? value : setting.readDefault;
        }
        stored.active = profile.get_int(section.c_str(), "active", 0) != 0;
        services.push_back(std::move(stored));
    }
    return services;
}

std::unique_ptr<ServiceRecord> newServiceRecord(const StoredService& stored)
{
    auto service = newServiceRecord();
    for (const ServiceSetting& setting : serviceSettings)
        if (setting.key)
            service->field(setting.column) = stored.fields[setting.column];
    return service;
}

bool hasStoredSettings(const ServiceRecord& record, const StoredService& stored, bool takenOverToo)
{
    for (const ServiceSetting& setting : serviceSettings) {
        const bool compared = setting.onReload == OnReload::Restarts
                              || (takenOverToo && setting.onReload == OnReload::TakenOver);
        if (compared && record.field(setting.column) != stored.fields[setting.column])
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

    if (profile.get_int("General", "columns", 0) == STORED_COLUMN_WIDTHS) {
        for (int column = 0; column < SERVICE_COLUMNS; ++column) {
            int width = profile.get_int("General", columnKey(column).c_str(), -1);
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
    putLine(out, "autostart", frontEnd_.autostartChecked() ? 1 : 0);
    out += "services   = " + std::to_string(count()) + "\n"; // the file format's padding, one more than the rest
    putLine(out, "xpos", rect.left);
    putLine(out, "ypos", rect.top);
    putLine(out, "width", rect.right - rect.left);
    putLine(out, "heigth", rect.bottom - rect.top); // the file format's spelling
    if (endingSession)
        putLine(out, "minimized", frontEnd_.windowFields().minimized);
    putLine(out, "columns", STORED_COLUMN_WIDTHS);
    // The stored ten always; a later column only while it is not at its
    // default width, so that a file keeps its lines when nothing changed.
    for (const ServiceSetting& setting : serviceSettings) {
        const int width = frontEnd_.columnWidth(setting.column);
        if (setting.column < STORED_COLUMN_WIDTHS || width != setting.width)
            putLine(out, columnKey(setting.column), width);
    }
    for (int row = 0; row < count(); ++row) {
        out += "\n[" + serviceSection(row + 1) + "]\n";
        const ServiceRecord* service = rows_[row].get();
        if (!service)
            continue;
        for (const ServiceSetting& setting : serviceSettings) {
            const std::string& value = service->field(setting.column);
            if (setting.key && (setting.writtenWhenDefault || value != setting.readDefault))
                putLine(out, setting.key, value);
        }
        putLine(out, "active", service->active ? 1 : 0);
    }
    port::save_config_file(CONFIG_FILE_NAME, out);
}

void ServiceTable::updateAutostart()
{
    port::set_autostart(AUTOSTART_VALUE_NAME, managerGlobals.modulePath, frontEnd_.autostartChecked());
}
