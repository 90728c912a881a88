// Worker supervision: launch, stop with its time limits, the monitoring
// pass and the reports.

#include "manager/worker_supervision.h"

#include "manager/busy_cursor.h"
#include "manager/product_texts.h"
#include "manager/serial_ports.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace {

// A text that goes between the double quotes of the worker command line
// must not end that quoting early: a double quote, or a backslash before
// the closing quote, would shift every later word.
bool quotable(const std::string& text)
{
    return text.find('"') == std::string::npos && (text.empty() || text.back() != '\\');
}

// Milliseconds from now until `end`, 0 once it has passed.
int msUntil(std::chrono::steady_clock::time_point end)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A report that begins with this word, in any letter case, is shown as it
// is; any other gets REPORT_PREFIX in front.
constexpr std::string_view ERROR_WORD = "error";

bool saysError(const std::string& text)
{
    if (text.size() < ERROR_WORD.size())
        return false;
    return std::equal(ERROR_WORD.begin(), ERROR_WORD.end(), text.begin(),
                      [](char word, char c) { return std::tolower(static_cast<unsigned char>(c)) == word; });
}

} // namespace

WorkerSupervision::WorkerSupervision(ServiceRows& rows, SupervisionLoop& loop, ManagerWindow* window)
    : rows_(rows), loop_(loop), window_(window)
{
    clientReports_.open(
        [this](uint32_t processId, const port::ClientReport& report) { onClientReport(processId, report); });
}

WorkerSupervision::~WorkerSupervision()
{
    for (int row = 0; row < rows_.count(); ++row)
        if (ServiceRecord* service = rows_.record(row); service->active && service->stopEvent.valid())
            service->stopEvent.set();
    const auto stopBy = StopClock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS);
    std::optional<StopClock::time_point> killBy;
    for (int row = 0; row < rows_.count(); ++row) {
        ServiceRecord* service = rows_.record(row);
        if (!service->active)
            continue;
        awaitWorker(*service, stopBy, killBy);
        service->active = false;
    }
}

std::optional<std::string> WorkerSupervision::validateService(const ServiceRecord& service) const
{
    const std::string& tcpip = service.field(COLUMN_TCPIP);
    if (tcpip.empty() || tcpip.find_first_of(" \t") != std::string::npos || !quotable(tcpip))
        return STATUS_INVALID_TCPIP;
    const std::string& comport = service.field(COLUMN_COMPORT);
    if (!quotable(comport) || !serialPortExists(comport))
        return STATUS_INVALID_COMPORT;
    for (const ServiceSetting& setting : serviceSettings)
        if (setting.startRefusal && !settingAccepts(setting, service.field(setting.column)))
            return setting.startRefusal;
    return std::nullopt;
}

void WorkerSupervision::setStatus(int row, const std::string& status)
{
    rows_.setField(row, COLUMN_STATUS, status);
}

void WorkerSupervision::runTimer()
{
    if (workerTimer_ == 0)
        workerTimer_ = loop_.startTimer(WORKER_TIMER_ID, WORKER_TIMER_PERIOD_MS);
}

void WorkerSupervision::refreshButtons()
{
    if (window_)
        window_->refreshButtons();
}

int WorkerSupervision::startService(int row)
{
    ServiceRecord* service = rows_.record(row);
    if (!service || service->active)
        return 0;
    if (std::optional<std::string> refusal = validateService(*service)) {
        setStatus(row, *refusal);
        return 0;
    }

    // The stop event is made once per record and reused, cleared, by every
    // later start, so a worker never starts with its stop already asked.
    if (!service->stopEvent.valid())
        service->stopEvent = port::NamedEvent::create(service->eventName);
    else
        service->stopEvent.reset();

    port::Process::Environment environment = workerEnvironment(*service);
    const uintptr_t clientTarget = clientReports_.target();
    environment.emplace_back(port::CLIENT_REPORT_VARIABLE,
                             clientTarget ? std::to_string(static_cast<uint32_t>(clientTarget)) : "");
    port::Process process;
    if (!port::Process::start_hidden(workerCommandLine(*service, loop_.reportTarget()), process, environment))
        return 0;
    service->processInfo = std::move(process);
    service->active = true;
    service->errorReported = false;
    setStatus(row, STATUS_ACTIVE);
    refreshButtons();
    runTimer();
    return 1;
}

void WorkerSupervision::awaitWorker(ServiceRecord& service, StopClock::time_point stopBy,
                                    std::optional<StopClock::time_point>& killBy, bool deliverReports)
{
    const port::WaitResult waited = service.processInfo.wait(msUntil(stopBy));
    // What the worker said of its client on its way out, while its process
    // id still names it.
    if (waited == port::WaitResult::Ended && deliverReports)
        deliverClientReports();
    if (waited == port::WaitResult::TimedOut) {
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

void WorkerSupervision::finishStop(int row, StopClock::time_point stopBy,
                                   std::optional<StopClock::time_point>& killBy)
{
    ServiceRecord& service = *rows_.record(row);
    awaitWorker(service, stopBy, killBy, true);
    endClient(row);
    service.active = false;
    setStatus(row, "");
    refreshButtons();
    if (!killedWorkers_.empty())
        runTimer();
}

bool WorkerSupervision::collectKilledWorkers()
{
    std::erase_if(killedWorkers_, [](port::Process& process) {
        uint32_t code = 0;
        return process.exit_code(code) && code != port::STILL_ACTIVE_CODE;
    });
    return !killedWorkers_.empty();
}

void WorkerSupervision::stopService(int row)
{
    ServiceRecord* service = rows_.record(row);
    if (!service || !service->active)
        return;
    BusyCursor busy(window_);
    if (service->stopEvent.valid())
        service->stopEvent.set();
    std::optional<StopClock::time_point> killBy;
    finishStop(row, StopClock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS), killBy);
}

void WorkerSupervision::restartService(int row)
{
    stopService(row);
    startService(row);
}

void WorkerSupervision::stopAllServices()
{
    std::vector<int> rows;
    for (int row = 0; row < rows_.count(); ++row)
        rows.push_back(row);
    stopServices(rows);
}

void WorkerSupervision::stopServices(const std::vector<int>& rows)
{
    BusyCursor busy(window_);
    for (int row : rows)
        if (ServiceRecord* service = rows_.record(row); service && service->active && service->stopEvent.valid())
            service->stopEvent.set();
    // The workers wind down side by side, so they share one time limit.
    const auto stopBy = StopClock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS);
    std::optional<StopClock::time_point> killBy;
    for (int row : rows)
        if (ServiceRecord* service = rows_.record(row); service && service->active)
            finishStop(row, stopBy, killBy);
}

void WorkerSupervision::startAllServices()
{
    for (int row = 0; row < rows_.count(); ++row)
        startService(row);
}

void WorkerSupervision::restartAllServices()
{
    stopAllServices();
    startAllServices();
}

void WorkerSupervision::onWorkerTimer(int identifier)
{
    if (identifier != workerTimer_ || workerTimer_ == 0)
        return;
    loop_.deliverPendingReports();
    deliverClientReports();
    bool running = collectKilledWorkers();
    const int64_t now = unixNow();
    for (int row = 0; row < rows_.count(); ++row) {
        ServiceRecord& service = *rows_.record(row);
        if (!service.active)
            continue;
        // A hold that began on another day gets its date.
        if (const std::string text = clientColumnText(service.client, now); text != service.field(COLUMN_CLIENT))
            rows_.setField(row, COLUMN_CLIENT, text);
        uint32_t code = 0;
        if (service.processInfo.exit_code(code) && code != port::STILL_ACTIVE_CODE) {
            endClient(row);
            service.active = false;
            if (!service.errorReported)
                setStatus(row, "");
            service.processInfo.close();
            refreshButtons();
        } else {
            running = true;
        }
    }
    if (!running) {
        loop_.killTimer(workerTimer_);
        workerTimer_ = 0;
    }
}

int WorkerSupervision::rowOfWorker(uint32_t processId) const
{
    // A record that never had a worker carries process id 0, which no
    // report can rightly name.
    if (processId == 0)
        return -1;
    for (int row = 0; row < rows_.count(); ++row)
        if (rows_.record(row)->processInfo.id() == processId)
            return row;
    return -1;
}

bool WorkerSupervision::onWorkerReport(uint32_t processId, const char* text)
{
    const int row = rowOfWorker(processId);
    if (row < 0)
        return false;
    rows_.record(row)->errorReported = true;
    std::string status = text ? text : "";
    setStatus(row, saysError(status) ? status : REPORT_PREFIX + status);
    return true;
}

void WorkerSupervision::onClientReport(uint32_t processId, const port::ClientReport& report)
{
    const int row = rowOfWorker(processId);
    if (row < 0)
        return;
    ServiceRecord& service = *rows_.record(row);
    ClientEvent event;
    event.reason = report.reason;
    event.client = clientState(report);
    switch (report.kind) {
    case port::ClientReport::Kind::Served:
        service.client = event.client;
        event.kind = ClientEvent::Kind::Served;
        break;
    case port::ClientReport::Kind::Progress:
        if (service.client) {
            service.client->toBoard = report.to_board;
            service.client->toClient = report.to_client;
        }
        return;
    case port::ClientReport::Kind::Left:
        service.client.reset();
        event.kind = ClientEvent::Kind::Left;
        break;
    case port::ClientReport::Kind::Refused:
        event.kind = ClientEvent::Kind::Refused;
        event.holder = service.client;
        break;
    }
    if (const std::string text = clientColumnText(service.client, unixNow()); text != service.field(COLUMN_CLIENT))
        rows_.setField(row, COLUMN_CLIENT, text);
    rows_.showClientEvent(row, event);
}

void WorkerSupervision::endClient(int row)
{
    ServiceRecord& service = *rows_.record(row);
    if (!service.client)
        return;
    ClientEvent event;
    event.kind = ClientEvent::Kind::Left;
    event.client = *service.client;
    service.client.reset();
    rows_.setField(row, COLUMN_CLIENT, "");
    rows_.showClientEvent(row, event);
}
