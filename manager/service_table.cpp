// The window's manager core: the configuration file applied to the window
// and the table, and the table's end.

#include "manager/service_table.h"

#include "manager/configuration_file.h"
#include "port/profile.h"

ServiceTable::ServiceTable(ManagerWindow& window)
    : window_(window), rows_(window), supervision_(rows_, window, &window), rules_(rows_, supervision_, window)
{
}

void ServiceTable::destroyAllServices()
{
    supervision_.stopAllServices();
    rows_.clear();
}

void ServiceTable::loadConfiguration()
{
    port::Profile profile(CONFIG_FILE_NAME);
    loadConfiguration(profile);
}

void ServiceTable::loadConfiguration(const port::Profile& profile)
{
    const StoredGeneral general = readGeneral(profile);
    if (general.autostart)
        window_.setAutostartChecked(true);
    window_.windowFields() = general.placement;
    for (int column = 0; column < SERVICE_COLUMNS; ++column)
        if (general.columnWidths[column] >= 0)
            window_.setColumnWidth(column, general.columnWidths[column]);

    // Each service stored as running starts before the next is read.
    for (const StoredService& stored : readStoredServices(profile)) {
        const int row = addService(newServiceRecord(stored));
        if (row >= 0 && stored.active)
            startService(row);
    }
}

void ServiceTable::saveConfiguration(bool endingSession)
{
    updateAutostart();
    GeneralToSave general;
    general.autostart = window_.autostartChecked();
    general.normalRect = window_.normalRect();
    if (endingSession)
        general.minimized = window_.windowFields().minimized;
    for (int column = 0; column < SERVICE_COLUMNS; ++column)
        general.columnWidths[column] = window_.columnWidth(column);
    writeConfigurationFile(configurationText(general, rows_));
}

void ServiceTable::updateAutostart()
{
    ::updateAutostart(window_.autostartChecked());
}
