#pragma once
// Worker supervision: starting a service's worker process, stopping and
// restarting it, the monitoring pass that notices workers that have ended,
// and the workers' reports that become status texts. It keeps the rest of
// the manager clear of processes, stop events and their time limits; what
// a service's Status says is set here and nowhere else but by the rows.

#include "manager/front_end.h"
#include "manager/service_rows.h"
#include "port/client_report.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr int WORKER_TIMER_ID = 1;
inline constexpr int WORKER_TIMER_PERIOD_MS = 500;
inline constexpr int STOP_TIMEOUT_MS = 10000;
// How long a stop waits for a killed worker before the monitoring pass
// collects it instead.
inline constexpr int KILL_WAIT_MS = 1000;

class WorkerSupervision {
public:
    // `window` shows the busy cursor while workers are stopped and has its
    // buttons refreshed when a worker starts or stops; none headless.
    WorkerSupervision(ServiceRows& rows, SupervisionLoop& loop, ManagerWindow* window = nullptr);
    // A last safety net: workers still running are stopped without a word
    // to the front end, which may be gone already.
    ~WorkerSupervision();
    WorkerSupervision(const WorkerSupervision&) = delete;
    WorkerSupervision& operator=(const WorkerSupervision&) = delete;

    // Why a start of the service would be refused (its Status text), none
    // when it may start. Changes nothing.
    std::optional<std::string> validateService(const ServiceRecord& service) const;

    // Non-zero when a worker was started.
    int startService(int row);
    void stopService(int row);
    void restartService(int row);
    void startAllServices();
    void stopAllServices();
    void restartAllServices();
    // Stops the running services of these rows: every one is asked to
    // stop before the first is waited for, then each in the given order.
    void stopServices(const std::vector<int>& rows);

    // The monitoring timer's tick and a worker's report.
    void onWorkerTimer(int identifier);
    bool onWorkerReport(uint32_t processId, const char* text);
    int workerTimer() const { return workerTimer_; }

    // The workers' client reports (port/client_report.h), which set the
    // Client column and reach the front end as client events. POSIX: the
    // front end's loop watches the descriptor (-1 when the reports could
    // not be set up) and delivers what waits when it polls readable;
    // Windows: they arrive with the thread's messages.
    int clientReportDescriptor() const { return clientReports_.fd(); }
    void deliverClientReports() { clientReports_.dispatch(); }
    void onClientReport(uint32_t processId, const port::ClientReport& report);

private:
    using StopClock = std::chrono::steady_clock;
    void setStatus(int row, const std::string& status);
    void runTimer();
    void refreshButtons();
    // Waits for a signalled worker until stopBy, kills it when it overstays
    // and then waits for it until killBy (set by the first kill of a stop),
    // and marks the service stopped. A killed worker not yet gone is left
    // to the monitoring pass to collect.
    void finishStop(int row, StopClock::time_point stopBy, std::optional<StopClock::time_point>& killBy);
    // The same without the front end: the process ends up closed or, when
    // killed and not yet gone, among the killed workers.
    // With deliverReports, the client reports of a worker that ended are
    // taken before its process is closed.
    void awaitWorker(ServiceRecord& service, StopClock::time_point stopBy,
                     std::optional<StopClock::time_point>& killBy, bool deliverReports = false);
    // Collects the killed workers that have ended; true when some remain.
    bool collectKilledWorkers();
    // The worker of the row has ended: the client it still served (no
    // report said it left) has left with it.
    void endClient(int row);
    int rowOfWorker(uint32_t processId) const;

    ServiceRows& rows_;
    SupervisionLoop& loop_;
    ManagerWindow* window_;
    int workerTimer_ = 0;
    std::vector<port::Process> killedWorkers_; // killed, not yet seen to end
    port::ClientReportReceiver clientReports_;
};
