#pragma once
// A fake front end that records what the core asks of its window, and small
// helpers for files and the environment.

#include "manager/manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class FakeFrontEnd : public ManagerFrontEnd {
public:
    FakeFrontEnd() { widths.assign(defaultColumnWidths.begin(), defaultColumnWidths.end()); }

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

inline void setEnv(const char* name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value->c_str() : "");
#else
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
#endif
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        setEnv(name, value);
    }
    ~ScopedEnv() { setEnv(name_.c_str(), old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("vantrel-manager-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}
