// Worker supervision: starting a service's worker, stopping and restarting
// it, the supervision timer's pass that notices workers that have ended,
// and the workers' reports that become status texts.

#include "manager/service_table.h"

#include "manager/busy_cursor.h"

#include <cctype>
#include <utility>

namespace {

constexpr const char* STATUS_ACTIVE = "Active";

} // namespace

int ServiceTable::startService(int row)
{
    ServiceRecord* service = record(row);
    if (!service || service->active)
        return 0;
    if (!validateService(*service)) {
        frontEnd_.setCellText(row, COLUMN_STATUS, service->status);
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

// Waits for a signalled worker, kills it when it overstays, and marks the
// service stopped.
void ServiceTable::finishStop(int row)
{
    ServiceRecord& service = *rows_[row];
    if (service.processInfo.wait(STOP_TIMEOUT_MS) == port::WaitResult::TimedOut) {
        service.processInfo.terminate(0);
        // Collect the killed process so it does not linger.
        service.processInfo.wait(STOP_TIMEOUT_MS);
    }
    service.active = false;
    setStatus(row, "");
    service.processInfo.close();
    frontEnd_.refreshButtons();
}

void ServiceTable::stopService(int row)
{
    ServiceRecord* service = record(row);
    if (!service || !service->active)
        return;
    BusyCursor busy(frontEnd_);
    if (service->stopEvent.valid())
        service->stopEvent.set();
    finishStop(row);
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
    for (int row : rows)
        if (ServiceRecord* service = record(row); service && service->active)
            finishStop(row);
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
    bool running = false;
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
            status = "Error: " + status;
        setStatus(row, status);
        return true;
    }
    return false;
}
