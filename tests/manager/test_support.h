#pragma once
// A fake front end that records what the core asks of its window; the
// shared helpers for files, folders and the environment.

#include "manager/front_end.h"
#include "manager/manager_globals.h"
#include "manager/service_record.h"
#include "manager/service_table.h"
#include "support/files.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class FakeFrontEnd : public ManagerWindow {
public:
    FakeFrontEnd() : widths(defaultWidths()) {}

    // The widths the list's columns start with.
    static std::vector<int> defaultWidths()
    {
        std::vector<int> list;
        for (const ServiceSetting& setting : serviceSettings)
            list.push_back(setting.width);
        return list;
    }

    bool appendRow() override
    {
        if (refuseRows)
            return false;
        rows.emplace_back(SERVICE_COLUMNS);
        return true;
    }
    void removeRow(int row) override
    {
        rows.erase(rows.begin() + row);
        if (selected >= static_cast<int>(rows.size()))
            selected = -1;
    }
    void setCellText(int row, int column, const std::string& text) override
    {
        ASSERT_GE(row, 0);
        ASSERT_LT(row, static_cast<int>(rows.size()));
        rows[row][column] = text;
    }
    int selectedRow() const override { return selected; }
    void selectRow(int row) override { selected = row; }
    int columnWidth(int column) const override { return widths[column]; }
    void setColumnWidth(int column, int width) override { widths[column] = width; }

    void refreshButtons() override { ++refreshes; }
    void showNoSerialPortsMessage() override { ++noPortsMessages; }
    void beginBusyCursor() override
    {
        ++busyDepth;
        ++busyShown;
    }
    void endBusyCursor() override
    {
        EXPECT_GT(busyDepth, 0);
        --busyDepth;
    }
    int startTimer(int id, int periodMs) override
    {
        ++timersStarted;
        timerId = id;
        timerPeriod = periodMs;
        timerRunning = true;
        return id;
    }
    void killTimer(int identifier) override
    {
        EXPECT_EQ(identifier, timerId);
        timerRunning = false;
    }
    bool autostartChecked() const override { return autostart; }
    void setAutostartChecked(bool checked) override { autostart = checked; }
    WindowFields& windowFields() override { return fields; }
    WindowRect normalRect() const override { return rect; }
    uintptr_t reportTarget() const override { return target; }
    void showClientEvent(int row, const ClientEvent& event) override
    {
        clientEvents.push_back(std::to_string(row) + ": " + clientEventText(event, unixNow()));
    }

    std::vector<std::vector<std::string>> rows;
    int selected = -1;
    std::vector<int> widths;
    bool refuseRows = false;
    int refreshes = 0;
    int noPortsMessages = 0;
    int busyDepth = 0;
    int busyShown = 0;
    int timersStarted = 0;
    int timerId = 0;
    int timerPeriod = 0;
    bool timerRunning = false;
    bool autostart = false;
    WindowFields fields;
    WindowRect rect;
    uintptr_t target = 0;
    std::vector<std::string> clientEvents; // "row: what headless mode says"
};

// Every cell of the front end equals its record field.
inline void expectRowsMirrorTable(FakeFrontEnd& frontEnd, ServiceTable& table)
{
    ASSERT_EQ(static_cast<int>(frontEnd.rows.size()), table.count());
    for (int row = 0; row < table.count(); ++row)
        for (int column = 0; column < SERVICE_COLUMNS; ++column)
            EXPECT_EQ(frontEnd.rows[row][column], table.record(row)->field(column))
                << "row " << row << " column " << column;
}

using support::read_file;
using support::ScopedEnv;
using support::TempDir;
using support::write_file;
