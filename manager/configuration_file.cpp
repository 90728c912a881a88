// The configuration file's reader and writer, driven by the table of
// service settings, and the autostart entry.

#include "manager/configuration_file.h"

#include "manager/manager_globals.h"
#include "manager/product_texts.h"
#include "manager/service_rows.h"
#include "manager/window_placement.h"
#include "port/autostart.h"
#include "port/config.h"
#include "port/profile.h"

#include <algorithm>

namespace {

constexpr const char* GENERAL = "General";

// The most services a file holds: sections numbered beyond it are not read.
constexpr int MAX_SERVICES = 10000;

// A stored column width keeps its low 16 bits, as a list control takes it.
constexpr int COLUMN_WIDTH_BITS = 0xFFFF;

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

StoredGeneral readGeneral(const port::Profile& profile)
{
    StoredGeneral general;
    general.autostart = profile.get_int(GENERAL, "autostart", 0) != 0;
    WindowFields& placement = general.placement;
    placement.xpos = profile.get_int(GENERAL, "xpos", 0);
    placement.ypos = profile.get_int(GENERAL, "ypos", 0);
    placement.width = profile.get_int(GENERAL, "width", 0);
    placement.height = profile.get_int(GENERAL, "heigth", 0); // the file format's spelling
    placement.minimized = profile.get_int(GENERAL, "minimized", 0);

    general.columnWidths.fill(-1);
    if (profile.get_int(GENERAL, "columns", 0) == STORED_COLUMN_WIDTHS) {
        for (int column = 0; column < SERVICE_COLUMNS; ++column) {
            const int width = profile.get_int(GENERAL, columnKey(column).c_str(), -1);
            if (width >= 0)
                general.columnWidths[column] = storedColumnWidth(width & COLUMN_WIDTH_BITS);
        }
    }
    return general;
}

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
            const bool kept = settingAccepts(setting, value) || setting.startRefusal;
            stored.fields[setting.column] = kept ? value : setting.readDefault;
        }
        stored.active = profile.get_int(section.c_str(), "active", 0) != 0;
        services.push_back(std::move(stored));
    }
    return services;
}

std::string configurationText(const GeneralToSave& general, const ServiceRows& rows)
{
    const WindowRect& rect = general.normalRect;
    std::string out = "[General]\n";
    putLine(out, "autostart", general.autostart ? 1 : 0);
    out += "services   = " + std::to_string(rows.count()) + "\n"; // the format pads this key one further
    putLine(out, "xpos", rect.left);
    putLine(out, "ypos", rect.top);
    putLine(out, "width", rect.right - rect.left);
    putLine(out, "heigth", rect.bottom - rect.top); // the file format's spelling
    if (general.minimized)
        putLine(out, "minimized", *general.minimized);
    putLine(out, "columns", STORED_COLUMN_WIDTHS);
    // The stored ten always; a later column only while it is not at its
    // default width, so that a file keeps its lines when nothing changed.
    for (const ServiceSetting& setting : serviceSettings) {
        const int width = general.columnWidths[setting.column];
        if (setting.column < STORED_COLUMN_WIDTHS || width != setting.width)
            putLine(out, columnKey(setting.column), width);
    }
    for (int row = 0; row < rows.count(); ++row) {
        out += "\n[" + serviceSection(row + 1) + "]\n";
        const ServiceRecord& service = *rows.record(row);
        for (const ServiceSetting& setting : serviceSettings) {
            const std::string& value = service.field(setting.column);
            if (setting.key && (setting.writtenWhenDefault || value != setting.readDefault))
                putLine(out, setting.key, value);
        }
        putLine(out, "active", service.active ? 1 : 0);
    }
    return out;
}

bool writeConfigurationFile(const std::string& text)
{
    return port::save_config_file(CONFIG_FILE_NAME, text);
}

void updateAutostart(bool enabled)
{
    port::set_autostart(AUTOSTART_VALUE_NAME, managerGlobals.modulePath, enabled);
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
