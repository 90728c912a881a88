// The list's own logic, shared by both windows: sorting, column widths,
// which editor a cell gets, applying edits, the menu and the buttons.

#include "manager/service_table.h"

#include <algorithm>

namespace {

// Plain byte order: unsigned bytes, a prefix before the longer text.
bool bytesBefore(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
}

} // namespace

void ServiceTable::sortByColumn(int column)
{
    if (column < 0 || column >= SERVICE_COLUMNS || count() < 2)
        return;
    if (column == sortColumn_) {
        sortAscending_ = !sortAscending_;
    } else {
        sortColumn_ = column;
        sortAscending_ = true;
    }
    for (auto& service : rows_)
        service->sortKey = service->field(sortColumn_);

    // The selected row keeps its record.
    int selected = frontEnd_.selectedRow();
    const ServiceRecord* selectedRecord = record(selected);

    bool ascending = sortAscending_;
    std::stable_sort(rows_.begin(), rows_.end(), [ascending](const auto& a, const auto& b) {
        return ascending ? bytesBefore(a->sortKey, b->sortKey) : bytesBefore(b->sortKey, a->sortKey);
    });
    for (int row = 0; row < count(); ++row)
        showRow(row);
    if (selectedRecord) {
        for (int row = 0; row < count(); ++row)
            if (rows_[row].get() == selectedRecord && row != selected)
                frontEnd_.selectRow(row);
    }
}

void ServiceTable::resetColumnWidths()
{
    for (const ServiceSetting& setting : serviceSettings)
        frontEnd_.setColumnWidth(setting.column, setting.width);
}

bool ServiceTable::prepareCellEdit(int row, int column, std::vector<std::string>& choices)
{
    choices.clear();
    ServiceRecord* service = record(row);
    if (!service || column < 0 || column >= SERVICE_COLUMNS)
        return false;
    const ServiceSetting& setting = serviceSettings[column];
    switch (setting.editor) {
    case SettingEditor::None: return false;
    case SettingEditor::Text: return true;
    case SettingEditor::Choice: choices = choiceTexts(setting); break;
    case SettingEditor::SerialPort:
        // A port that has gone, or the empty list a failed refresh from the
        // menu left behind, makes the list worth scanning again.
        if (!serialPortExists(service->field(column)) || serialPortList_.empty())
            portsStale_ = true;
        if (portsStale_ && !refreshSerialPorts())
            return false;
        choices = serialPortList_;
        break;
    }
    return !choices.empty();
}

CellEditorSetup ServiceTable::cellEditor(int row, int column)
{
    CellEditorSetup setup;
    // A message box that the port scan may show lets the rows change.
    if (!prepareCellEdit(row, column, setup.choices) || !record(row))
        return {};
    if (setup.choices.empty()) {
        setup.kind = CellEditorKind::Text;
        return setup;
    }
    setup.kind = CellEditorKind::Choice;
    const std::string& value = record(row)->field(column);
    for (size_t i = 0; i < setup.choices.size(); ++i)
        if (setup.choices[i] == value)
            setup.current = static_cast<int>(i);
    return setup;
}

void ServiceTable::setServiceField(int row, int column, const std::string& text)
{
    ServiceRecord* service = record(row);
    if (!service || column < 0 || column >= SERVICE_COLUMNS || serviceSettings[column].editor == SettingEditor::None)
        return;
    frontEnd_.setCellText(row, column, text);
    service->field(column) = text;
}

int ServiceTable::applyCellEdit(const CellEditResult& result)
{
    if (!record(result.row) || result.column < 0 || result.column >= SERVICE_COLUMNS)
        return -1;
    // A text the setting's check refuses is not taken.
    if (result.text && settingAccepts(serviceSettings[result.column], *result.text))
        setServiceField(result.row, result.column, *result.text);
    return result.endKey == END_KEY_TAB ? nextEditColumn(result.column) : -1;
}

// ---------------------------------------------------------------------------
// Commands.

bool ServiceTable::menuItemEnabled(int command, int row) const
{
    const ServiceRecord* service = record(row);
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
        return count() > 0;
    case CMD_ADD_SERVICE:
    case CMD_REFRESH_PORTS:
    case CMD_RESET_COLUMNS:
        return true;
    }
    return false;
}

void ServiceTable::runMenuCommand(int command, int row)
{
    if (!menuItemEnabled(command, row))
        return;
    switch (command) {
    case CMD_START_SERVICE: startService(row); break;
    case CMD_STOP_SERVICE: stopService(row); break;
    case CMD_RESTART_SERVICE: restartService(row); break;
    case CMD_START_ALL: startAllServices(); break;
    case CMD_STOP_ALL: stopAllServices(); break;
    case CMD_RESTART_ALL: restartAllServices(); break;
    case CMD_ADD_SERVICE: addService(); break;
    case CMD_DELETE_SERVICE: deleteService(row); break;
    case CMD_REFRESH_PORTS: refreshSerialPorts(); break;
    case CMD_RESET_COLUMNS: resetColumnWidths(); break;
    }
}

bool ServiceTable::buttonEnabled(int button, int row) const
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

// Help opens a window, which is the front end's own business.
void ServiceTable::runButton(int button, int row)
{
    if (!buttonEnabled(button, row))
        return;
    switch (button) {
    case IDC_ADD: addService(); break;
    case IDC_DELETE: deleteService(row); break;
    case IDC_START: startService(row); break;
    case IDC_STOP: stopService(row); break;
    case IDC_RESTART: restartService(row); break;
    }
}
