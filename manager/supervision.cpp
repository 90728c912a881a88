// Worker supervision: starting a service's worker, stopping and restarting
// it, the supervision timer's pass that notices workers that have ended,
// and the workers' reports that become status texts.

#include "manager/service_table.h"

#include "manager/busy_cursor.h"
#include "manager/product_texts.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <utility>

int ServiceTable::startService(int row)
{
    ServiceRecord* service = record(row);
    if (!service || service->active)
        return 0;
    if (!validateService(*service)) {
        frontEnd_.setCellText(row, COLUMN_STATUS, service->field(COLUMN_STATUS));
        return 0;
    }

    // The stop event is made once per record and reused, cleared, by every
    // later start, so a worker never starts with its stop already asked.
    if (!service->stopEvent.valid())
        service->stopEvent = port::NamedEvent::create(service->eventName);
    else
        service->stopEvent.reset();

    port::Process process;
    if (!port::Process::start_hidden(workerCommandLine(*service, frontEnd_.reportTarget()), process))
        return 0;
    service->processInfo = std::move(process);
    service->active = true;
    service->errorReported = false;
    setStatus(row, STATUS_ACTIVE);
    frontEnd_.refreshButtons();
    if (workerTimer_ == 0)
        workerTimer_ = frontEnd_.startTimer(WORKER_TIMER_ID, WORKER_TIMER_PERIOD_MS);
    return 1;
}

namespace {

// Milliseconds from now until `end`, 0 once it has passed.
int msUntil(std::chrono::steady_clock::time_point end)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

void ServiceTable::awaitWorker(ServiceRecord& service, StopClock::time_point stopBy,
                               std::optional<StopClock::time_point>& killBy)
{
    if (service.processInfo.wait(msUntil(stopBy)) == port::WaitResult::TimedOut) {
        // Every worker killed by one stop shares one short wait; what has
        // not gone by then is collected by the monitoring pass.
        if (!killBy)
            killBy = StopClock::now() + std::chrono::milliseconds(KILL_WAIT_MS);
        service.processInfo.terminate(0);
        if (service.processInfo.wait(msUntil(*killBy)) == port::WaitResult::TimedOut) {
            killedWorkers_.push_back(std::move(service.processInfo));
            return;
        }
    }
    service.processInfo.close();
}

void ServiceTable::finishStop(int row, StopClock::time_point stopBy, std::optional<StopClock::time_point>& killBy)
{
    ServiceRecord& service = *rows_[row];
    awaitWorker(service, stopBy, killBy);
    service.active = false;
    setStatus(row, "");
    frontEnd_.refreshButtons();
    if (!killedWorkers_.empty() && workerTimer_ == 0)
        workerTimer_ = frontEnd_.startTimer(WORKER_TIMER_ID, WORKER_TIMER_PERIOD_MS);
}

bool ServiceTable::collectKilledWorkers()
{
    std::erase_if(killedWorkers_, [](port::Process& process) {
        uint32_t code = 0;
        return process.exit_code(code) && code != port::STILL_ACTIVE_CODE;
    });
    return !killedWorkers_.empty();
}

void ServiceTable::stopService(int row)
{
    ServiceRecord* service = record(row);
    if (!service || !service->active)
        return;
    BusyCursor busy(frontEnd_);
    if (service->stopEvent.valid())
        service->stopEvent.set();
    std::optional<StopClock::time_point> killBy;
    finishStop(row, StopClock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS), killBy);
}

void ServiceTable::restartService(int row)
{
    stopService(row);
    startService(row);
}

void ServiceTable::stopAllServices()
{
    std::vector<int> rows;
    for (int row = 0; row < count(); ++row)
        rows.push_back(row);
    stopServices(rows);
}

void ServiceTable::stopServices(const std::vector<int>& rows)
{
    BusyCursor busy(frontEnd_);
    for (int row : rows)
        if (ServiceRecord* service = record(row); service && service->active && service->stopEvent.valid())
            service->stopEvent.set();
    // The workers wind down side by side, so they share one time limit.
    const auto stopBy = StopClock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS);
    std::optional<StopClock::time_point> killBy;
    for (int row : rows)
        if (ServiceRecord* service = record(row); service && service->active)
            finishStop(row, stopBy, killBy);
}

void ServiceTable::startAllServices()
{
    for (int row = 0; row < count(); ++row)
        startService(row);
}

void ServiceTable::restartAllServices()
{
    stopAllServices();
    startAllServices();
}

void ServiceTable::onWorkerTimer(int identifier)
{
    if (identifier != workerTimer_ || workerTimer_ == 0)
        return;
    frontEnd_.deliverPendingReports();
    bool running = collectKilledWorkers();
    for (int row = 0; row < count(); ++row) {
        ServiceRecord& service = *rows_[row];
        if (!service.active)
            continue;
        uint32_t code = 0;
        if (service.processInfo.exit_code(code) && code != port::STILL_ACTIVE_CODE) {
            service.active = false;
            if (!service.errorReported)
                setStatus(row, "");
            service.processInfo.close();
            frontEnd_.refreshButtons();
        } else {
            running = true;
        }
    }
    if (!running) {
        frontEnd_.killTimer(workerTimer_);
        workerTimer_ = 0;
    }
}

bool ServiceTable::onWorkerReport(uint32_t processId, const char* text)
{
    // A record that never had a worker carries process id 0, which no
    // report can rightly name.
    if (processId == 0)
        return false;
    for (int row = 0; row < count(); ++row) {
        ServiceRecord& service = *rows_[row];
        if (service.processInfo.id() != processId)
            continue;
        service.errorReported = true;
        std::string status = text ? text : "";
        bool saysError = status.size() >= 5;
        for (size_t i = 0; saysError && i < 5; ++i)
            saysError = std::tolower(static_cast<unsigned char>(status[i])) == "error"[i];
        if (!saysError)
            status = REPORT_PREFIX + status;
        setStatus(row, status);
        return true;
    }
    return false;
}
