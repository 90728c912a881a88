// Headless mode: the rows of services and their supervision without a
// window, driven by one poll loop over the caught signals, the workers'
// reports and the 500 ms monitoring pass.

#include "manager/headless.h"

#include "manager/product_texts.h"
#include "manager/configuration_file.h"
#include "manager/front_end.h"
#include "manager/manager_globals.h"
#include "manager/service_rows.h"
#include "manager/worker_supervision.h"
#include "port/config.h"
#include "port/profile.h"
#include "port/report.h"
#include "port/signals.h"
#include "port/status_channel.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int EXIT_CANNOT_START = 2;

using Clock = std::chrono::steady_clock;

void say(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

// The list's rows as text, for the status lines; a timer whose ticks the
// loop asks for; the reports from the receiver.
class HeadlessFrontEnd : public ServiceListDisplay, public SupervisionLoop {
public:
    explicit HeadlessFrontEnd(port::ReportReceiver& receiver) : receiver_(receiver) {}
    void attach(WorkerSupervision* supervision) { supervision_ = supervision; }

    bool appendRow() override
    {
        rows_.emplace_back();
        return true;
    }
    void removeRow(int row) override
    {
        if (row >= 0 && row < static_cast<int>(rows_.size()))
            rows_.erase(rows_.begin() + row);
    }
    void setCellText(int row, int column, const std::string& text) override
    {
        if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= SERVICE_COLUMNS)
            return;
        Cells& cells = rows_[row];
        const bool statusChanged = column == COLUMN_STATUS && cells[column] != text;
        cells[column] = text;
        if (statusChanged)
            say(headlessStatusLine(cells[COLUMN_NAME], cells[COLUMN_TCPIP], cells[COLUMN_COMPORT], text));
    }
    void showClientEvent(int row, const ClientEvent& event) override
    {
        if (row < 0 || row >= static_cast<int>(rows_.size()))
            return;
        const Cells& cells = rows_[row];
        say(headlessStatusLine(cells[COLUMN_NAME], cells[COLUMN_TCPIP], cells[COLUMN_COMPORT],
                               clientEventText(event, unixNow())));
    }

    int startTimer(int id, int periodMs) override
    {
        timerId_ = id;
        period_ = std::chrono::milliseconds(periodMs);
        nextTick_ = Clock::now() + period_;
        return id;
    }
    void killTimer(int) override { timerId_ = 0; }
    uintptr_t reportTarget() const override { return receiver_.target(); }
    void deliverPendingReports() override
    {
        receiver_.dispatch([this](uint32_t processId, const char* text) {
            return supervision_ && supervision_->onWorkerReport(processId, text);
        });
    }

    // The wait until the timer's next tick as a poll time-out: -1 while no
    // timer runs.
    int msUntilTick() const
    {
        if (timerId_ == 0)
            return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(nextTick_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }
    // The timer's identifier when a tick is due (the next one is then
    // counted from now), else 0.
    int takeTick()
    {
        if (timerId_ == 0 || Clock::now() < nextTick_)
            return 0;
        nextTick_ = Clock::now() + period_;
        return timerId_;
    }

private:
    using Cells = std::array<std::string, SERVICE_COLUMNS>;

    port::ReportReceiver& receiver_;
    WorkerSupervision* supervision_ = nullptr;
    std::vector<Cells> rows_;
    int timerId_ = 0;
    Clock::duration period_{};
    Clock::time_point nextTick_{};
};

class HeadlessManager {
public:
    explicit HeadlessManager(std::string configDir)
        : configDir_(std::move(configDir)), frontEnd_(receiver_), rows_(frontEnd_), supervision_(rows_, frontEnd_)
    {
        frontEnd_.attach(&supervision_);
    }

    int run();

private:
    std::string configPath() const;
    bool readConfiguration(const std::string& path, port::Profile& profile) const;
    void reload();
    void apply(const std::vector<StoredService>& wanted);
    // What vantrel --status prints: the file's path on the first line,
    // then one line per service.
    std::string statusText() const;

    std::string configDir_;
    port::ControlSignals signals_;
    port::ReportReceiver receiver_;
    port::StatusServer statusServer_;
    std::string path_; // the file read
    HeadlessFrontEnd frontEnd_;
    ServiceRows rows_;
    WorkerSupervision supervision_; // last: its workers are stopped before the rest goes
};

std::string HeadlessManager::configPath() const
{
    return headlessConfigPath(configDir_);
}

bool HeadlessManager::readConfiguration(const std::string& path, port::Profile& profile) const
{
    std::string error;
    if (!profile.read_file(path, error)) {
        say("vantrel: cannot read the configuration file " + path + ": " + error);
        return false;
    }
    if (!profile.has_section("General") && readStoredServices(profile).empty()) {
        say("vantrel: " + path + " is no configuration file of Vantrel Server: it has no [General] and no "
            "[ServiceN] section");
        return false;
    }
    return true;
}

int HeadlessManager::run()
{
    // Signals first, so that one that comes while the services start is
    // acted on as soon as the loop runs.
    if (!signals_.open()) {
        say("vantrel: headless mode is not available on this system");
        return EXIT_CANNOT_START;
    }
    port::ignore_broken_pipes();
    const std::string path = configPath();
    port::Profile profile;
    if (!readConfiguration(path, profile)) {
        if (configDir_.empty())
            say("vantrel: create it, or name the folder of vantrel.ini with --config DIR");
        return EXIT_CANNOT_START;
    }
    if (!setUpManager()) {
        say("vantrel: another Vantrel Server manager is running on this machine; headless mode does not start");
        return EXIT_CANNOT_START;
    }
    if (!receiver_.open()) {
        say("vantrel: cannot open the endpoint for the workers' reports");
        return EXIT_CANNOT_START;
    }
    if (!statusServer_.open(PRODUCT_PREFIX))
        say("vantrel: cannot open the endpoint for vantrel --status; the services run without it");
    path_ = path;
    say(std::string("vantrel ") + PRODUCT_VERSION + ": running the services of " + path);
    apply(readStoredServices(profile));

    bool ending = false;
    while (!ending) {
        enum { SIGNALS, REPORTS, CLIENT_REPORTS, STATUS_REQUESTS, WAITED };
        const int fds[WAITED] = {signals_.fd(), receiver_.fd(), supervision_.clientReportDescriptor(),
                                 statusServer_.fd()};
        bool ready[WAITED] = {};
        if (port::wait_readable(fds, ready, WAITED, frontEnd_.msUntilTick()) < 0) {
            say("vantrel: waiting for signals and reports failed; stopping every service");
            break;
        }
        if (ready[REPORTS])
            frontEnd_.deliverPendingReports();
        if (ready[CLIENT_REPORTS])
            supervision_.deliverClientReports();
        if (ready[STATUS_REQUESTS])
            statusServer_.answer([this] { return statusText(); }, STATUS_REFUSAL);
        if (int tick = frontEnd_.takeTick())
            supervision_.onWorkerTimer(tick);
        if (ready[SIGNALS]) {
            for (port::ControlSignal signal : signals_.take()) {
                if (signal == port::ControlSignal::Hangup && !ending)
                    reload();
                else if (signal != port::ControlSignal::Hangup)
                    ending = true;
            }
        }
    }
    say("vantrel: stopping every service");
    supervision_.stopAllServices();
    return 0;
}

void HeadlessManager::reload()
{
    const std::string path = configPath();
    port::Profile profile;
    if (!readConfiguration(path, profile)) {
        say("vantrel: the services keep running as they are");
        return;
    }
    say("vantrel: read " + path + " again");
    path_ = path;
    apply(readStoredServices(profile));
}

// Brings the table to the wanted services and touches no other: a row
// with the same settings stays (a changed name, or any setting the table
// says is taken over, changes in place),
// and is started or stopped only when its running state differs; rows
// that no longer appear are stopped and removed, new services added and
// started when they are to run. All stops come before all starts, so that
// a service that keeps its TCP port has let go of it.
void HeadlessManager::apply(const std::vector<StoredService>& wanted)
{
    const int rows = rows_.count();
    std::vector<int> rowOf(wanted.size(), -1);
    std::vector<int> entryOf(static_cast<size_t>(rows), -1);
    for (bool takenOverToo : {true, false}) {
        for (size_t i = 0; i < wanted.size(); ++i) {
            for (int row = 0; rowOf[i] < 0 && row < rows; ++row) {
                if (entryOf[row] < 0 && hasStoredSettings(*rows_.record(row), wanted[i], takenOverToo)) {
                    rowOf[i] = row;
                    entryOf[row] = static_cast<int>(i);
                }
            }
        }
    }

    std::vector<int> stops;
    for (int row = 0; row < rows; ++row) {
        const bool keep = entryOf[row] >= 0 && wanted[entryOf[row]].active;
        if (rows_.record(row)->active && !keep)
            stops.push_back(row);
    }
    supervision_.stopServices(stops);

    for (size_t i = 0; i < wanted.size(); ++i) {
        if (rowOf[i] < 0)
            continue;
        for (const ServiceSetting& setting : serviceSettings) {
            const std::string& value = wanted[i].fields[setting.column];
            if (setting.onReload == OnReload::TakenOver && rows_.record(rowOf[i])->field(setting.column) != value)
                rows_.setField(rowOf[i], setting.column, value);
        }
    }

    // Rows that are gone, the last first; the kept rows move up.
    std::vector<int> removedBefore(static_cast<size_t>(rows) + 1, 0);
    for (int row = 0; row < rows; ++row)
        removedBefore[row + 1] = removedBefore[row] + (entryOf[row] < 0 ? 1 : 0);
    for (int row = rows - 1; row >= 0; --row)
        if (entryOf[row] < 0)
            rows_.remove(row);

    for (size_t i = 0; i < wanted.size(); ++i) {
        int row = rowOf[i];
        if (row >= 0)
            row -= removedBefore[row];
        else
            row = rows_.append(newServiceRecord(wanted[i]));
        const ServiceRecord* service = rows_.record(row);
        if (service && wanted[i].active && !service->active)
            supervision_.startService(row);
    }
}

std::string HeadlessManager::statusText() const
{
    std::string text = STATUS_FILE_LINE + path_ + "\n";
    for (int row = 0; row < rows_.count(); ++row) {
        const ServiceRecord& service = *rows_.record(row);
        text += headlessStatusLine(service.field(COLUMN_NAME), service.field(COLUMN_TCPIP),
                                   service.field(COLUMN_COMPORT), service.field(COLUMN_STATUS))
                + clientStatusText(service.client, service.active) + "\n";
    }
    return text;
}

} // namespace

std::string headlessConfigPath(const std::string& configDir)
{
    if (configDir.empty())
        return port::config_read_path(CONFIG_FILE_NAME);
    std::string dir = configDir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir + (dir.back() == '/' ? "" : "/") + CONFIG_FILE_NAME;
}

std::string headlessStatusLine(const std::string& name, const std::string& tcpip, const std::string& comport,
                               const std::string& status)
{
    return name + " (" + tcpip + " -> " + comport + "): " + (status.empty() ? "Stopped" : status);
}

int runHeadless(const std::string& configDir)
{
    HeadlessManager manager(configDir);
    return manager.run();
}
