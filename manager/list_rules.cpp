// The service list's shared rules: services added and deleted, sorting,
// column widths, editors and edits, commands and their greying.

#include "manager/list_rules.h"

#include "manager/busy_cursor.h"
#include "manager/command_ids.h"

#include <algorithm>

namespace {

// Plain byte order: unsigned bytes, a prefix before the longer text.
bool bytesBefore(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
}

bool isColumn(int column)
{
    return column >= 0 && column < SERVICE_COLUMNS;
}

} // namespace

ServiceListRules::ServiceListRules(ServiceRows& rows, WorkerSupervision& supervision, ManagerWindow& window)
    : rows_(rows), supervision_(supervision), window_(window)
{
}

int ServiceListRules::addService(std::unique_ptr<ServiceRecord> service)
{
    if (!service) {
        service = newServiceRecord();
        {
            BusyCursor busy(window_);
            service->field(COLUMN_COMPORT) = firstSerialPort();
        }
        if (service->field(COLUMN_COMPORT).empty())
            window_.showNoSerialPortsMessage();
    }
    const int row = rows_.append(std::move(service));
    if (row >= 0)
        window_.refreshButtons();
    return row;
}

void ServiceListRules::deleteService(int row)
{
    const ServiceRecord* service = rows_.record(row);
    if (!service || service->active)
        return;
    rows_.remove(row);
    window_.selectRow(row < rows_.count() ? row : rows_.count() - 1);
    window_.refreshButtons();
}

bool ServiceListRules::refreshSerialPorts()
{
    bool found = false;
    {
        BusyCursor busy(window_);
        found = ports_.refresh();
    }
    if (!found)
        window_.showNoSerialPortsMessage();
    return found;
}

void ServiceListRules::sortByColumn(int column)
{
    if (!isColumn(column) || rows_.count() < 2)
        return;
    if (column == sortColumn_) {
        sortAscending_ = !sortAscending_;
    } else {
        sortColumn_ = column;
        sortAscending_ = true;
    }
    for (int row = 0; row < rows_.count(); ++row) {
        ServiceRecord& service = *rows_.record(row);
        service.sortKey = service.field(sortColumn_);
    }

    // The selected row keeps its record.
    const int selected = window_.selectedRow();
    const ServiceRecord* selectedRecord = rows_.record(selected);

    const bool ascending = sortAscending_;
    rows_.sort([ascending](const ServiceRecord& a, const ServiceRecord& b) {
        return ascending ? bytesBefore(a.sortKey, b.sortKey) : bytesBefore(b.sortKey, a.sortKey);
    });
    if (selectedRecord) {
        for (int row = 0; row < rows_.count(); ++row)
            if (rows_.record(row) == selectedRecord && row != selected)
                window_.selectRow(row);
    }
}

void ServiceListRules::resetColumnWidths()
{
    for (const ServiceSetting& setting : serviceSettings)
        window_.setColumnWidth(setting.column, setting.width);
}

bool ServiceListRules::prepareCellEdit(int row, int column)
{
    const ServiceRecord* service = rows_.record(row);
    if (!service || !isColumn(column))
        return false;
    switch (serviceSettings[column].editor) {
    case SettingEditor::None: return false;
    case SettingEditor::Text:
    case SettingEditor::Choice: return true;
    case SettingEditor::SerialPort: break;
    }
    // A port that has gone, or the empty list a failed refresh from the
    // menu left behind, makes the list worth scanning again.
    if (!serialPortExists(service->field(column)) || ports_.names().empty())
        ports_.markStale();
    return !ports_.stale() || refreshSerialPorts();
}

CellEditorSetup ServiceListRules::cellEditor(int row, int column) const
{
    const ServiceRecord* service = rows_.record(row);
    if (!service || !isColumn(column))
        return {};
    const ServiceSetting& setting = serviceSettings[column];
    CellEditorSetup setup;
    switch (setting.editor) {
    case SettingEditor::None: return {};
    case SettingEditor::Text: setup.kind = CellEditorKind::Text; return setup;
    case SettingEditor::Choice: setup.choices = choiceTexts(setting); break;
    case SettingEditor::SerialPort:
        if (ports_.stale())
            return {};
        setup.choices = ports_.names();
        break;
    }
    if (setup.choices.empty())
        return {};
    setup.kind = CellEditorKind::Choice;
    const auto at = std::find(setup.choices.begin(), setup.choices.end(), service->field(column));
    setup.current = at == setup.choices.end() ? -1 : static_cast<int>(at - setup.choices.begin());
    return setup;
}

void ServiceListRules::setServiceField(int row, int column, const std::string& text)
{
    if (isColumn(column) && serviceSettings[column].editor != SettingEditor::None)
        rows_.setField(row, column, text);
}

int ServiceListRules::applyCellEdit(const CellEditResult& result)
{
    if (!rows_.record(result.row) || !isColumn(result.column))
        return -1;
    if (result.text && settingAccepts(serviceSettings[result.column], *result.text))
        setServiceField(result.row, result.column, *result.text);
    return result.endKey == END_KEY_TAB ? nextEditColumn(result.column) : -1;
}

// ---------------------------------------------------------------------------
// Commands.

bool ServiceListRules::menuItemEnabled(int command, int row) const
{
    const ServiceRecord* service = rows_.record(row);
    switch (command) {
    case CMD_START_SERVICE:
    case CMD_DELETE_SERVICE:
        return service && !service->active;
    case CMD_STOP_SERVICE:
    case CMD_RESTART_SERVICE:
        return service && service->active;
    case CMD_START_ALL:
    case CMD_STOP_ALL:
    case CMD_RESTART_ALL:
        return rows_.count() > 0;
    case CMD_ADD_SERVICE:
    case CMD_REFRESH_PORTS:
    case CMD_RESET_COLUMNS:
        return true;
    }
    return false;
}

void ServiceListRules::runMenuCommand(int command, int row)
{
    if (!menuItemEnabled(command, row))
        return;
    switch (command) {
    case CMD_START_SERVICE: supervision_.startService(row); break;
    case CMD_STOP_SERVICE: supervision_.stopService(row); break;
    case CMD_RESTART_SERVICE: supervision_.restartService(row); break;
    case CMD_START_ALL: supervision_.startAllServices(); break;
    case CMD_STOP_ALL: supervision_.stopAllServices(); break;
    case CMD_RESTART_ALL: supervision_.restartAllServices(); break;
    case CMD_ADD_SERVICE: addService(); break;
    case CMD_DELETE_SERVICE: deleteService(row); break;
    case CMD_REFRESH_PORTS: refreshSerialPorts(); break;
    case CMD_RESET_COLUMNS: resetColumnWidths(); break;
    }
}

bool ServiceListRules::buttonEnabled(int button, int row) const
{
    switch (button) {
    case IDC_ADD:
    case IDC_HELP_BUTTON:
        return true;
    case IDC_DELETE: return menuItemEnabled(CMD_DELETE_SERVICE, row);
    case IDC_START: return menuItemEnabled(CMD_START_SERVICE, row);
    case IDC_STOP: return menuItemEnabled(CMD_STOP_SERVICE, row);
    case IDC_RESTART: return menuItemEnabled(CMD_RESTART_SERVICE, row);
    }
    return false;
}

void ServiceListRules::runButton(int button, int row)
{
    if (!buttonEnabled(button, row))
        return;
    switch (button) {
    case IDC_ADD: addService(); break;
    case IDC_DELETE: deleteService(row); break;
    case IDC_START: supervision_.startService(row); break;
    case IDC_STOP: supervision_.stopService(row); break;
    case IDC_RESTART: supervision_.restartService(row); break;
    }
}
