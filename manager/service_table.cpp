// The table of services: adding and deleting services, starting, watching
// and stopping their workers, serial port discovery and validation.

#include "manager/manager.h"

#include "port/serial_probe.h"

#include <cctype>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* STATUS_ACTIVE = "Active";
constexpr const char* INVALID_TCPIP = "Error: Invalid TCP/IP Port specified";
constexpr const char* INVALID_COMPORT = "Error: Invalid Serial Port specified";
constexpr int HIGHEST_PORT_NUMBER = 256;

// The busy cursor for the life of a scope.
class BusyCursor {
public:
    explicit BusyCursor(ManagerFrontEnd& frontEnd) : frontEnd_(frontEnd) { frontEnd_.beginBusyCursor(); }
    ~BusyCursor() { frontEnd_.endBusyCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    ManagerFrontEnd& frontEnd_;
};

std::string portName(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", number);
    return name;
}

// A text that goes between the double quotes of the worker command line
// must not end that quoting early: a double quote, or a backslash before
// the closing quote, would shift every later word.
bool quotable(const std::string& text)
{
    return text.find('"') == std::string::npos && (text.empty() || text.back() != '\\');
}

} // namespace

ServiceTable::ServiceTable(ManagerFrontEnd& frontEnd) : frontEnd_(frontEnd) {}

// A last safety net: workers still running when the table goes away are
// stopped without touching the front end, which may be gone already.
ServiceTable::~ServiceTable()
{
    for (auto& record : rows_)
        if (record && record->active && record->stopEvent.valid())
            record->stopEvent.set();
    for (auto& record : rows_) {
        if (!record || !record->active)
            continue;
        if (record->processInfo.wait(STOP_TIMEOUT_MS) == port::WaitResult::TimedOut) {
            record->processInfo.terminate(0);
            record->processInfo.wait(STOP_TIMEOUT_MS);
        }
        record->processInfo.close();
        record->active = false;
    }
}

int ServiceTable::count() const
{
    return static_cast<int>(rows_.size());
}

ServiceRecord* ServiceTable::record(int row)
{
    return const_cast<ServiceRecord*>(std::as_const(*this).record(row));
}

const ServiceRecord* ServiceTable::record(int row) const
{
    if (row < 0 || row >= count())
        return nullptr;
    return rows_[row].get();
}

void ServiceTable::showRow(int row)
{
    ServiceRecord& service = *rows_[row];
    for (int column = 0; column < SERVICE_COLUMNS; ++column)
        frontEnd_.setCellText(row, column, service.field(column));
}

void ServiceTable::setStatus(int row, const std::string& status)
{
    rows_[row]->status = status;
    frontEnd_.setCellText(row, COLUMN_STATUS, status);
}

// ---------------------------------------------------------------------------
// Services.

int ServiceTable::addService(std::unique_ptr<ServiceRecord> service)
{
    if (!service) {
        service = newServiceRecord();
        {
            BusyCursor busy(frontEnd_);
            for (int number = 1; number <= HIGHEST_PORT_NUMBER; ++number) {
                std::string name = portName(number);
                if (serialPortExists(name)) {
                    service->comport = name;
                    break;
                }
            }
        }
        if (service->comport.empty())
            frontEnd_.showNoSerialPortsMessage();
    }
    if (!frontEnd_.appendRow())
        return -1;
    int row = count();
    rows_.push_back(std::move(service));
    showRow(row);
    frontEnd_.refreshButtons();
    return row;
}

void ServiceTable::deleteService(int row)
{
    ServiceRecord* service = record(row);
    if (!service || service->active)
        return;
    rows_.erase(rows_.begin() + row);
    frontEnd_.removeRow(row);
    if (row < count())
        frontEnd_.selectRow(row);
    else
        frontEnd_.selectRow(count() - 1);
    frontEnd_.refreshButtons();
}

void ServiceTable::destroyAllServices()
{
    stopAllServices();
    rows_.clear();
}

// ---------------------------------------------------------------------------
// Workers.

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
    BusyCursor busy(frontEnd_);
    for (auto& service : rows_)
        if (service->active && service->stopEvent.valid())
            service->stopEvent.set();
    for (int row = 0; row < count(); ++row)
        if (rows_[row]->active)
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

// ---------------------------------------------------------------------------
// Serial ports and validation.

bool ServiceTable::serialPortExists(const std::string& name) const
{
    if (name.empty())
        return false;
    return port::serial_port_present(name);
}

bool ServiceTable::refreshSerialPorts()
{
    {
        BusyCursor busy(frontEnd_);
        serialPortList_.clear();
        for (int number = 1; number <= HIGHEST_PORT_NUMBER; ++number) {
            std::string name = portName(number);
            if (serialPortExists(name))
                serialPortList_.push_back(name);
        }
    }
    if (serialPortList_.empty()) {
        frontEnd_.showNoSerialPortsMessage();
        return false;
    }
    portsStale_ = false;
    return true;
}

bool ServiceTable::validateService(ServiceRecord& service) const
{
    const std::string& tcpip = service.tcpip;
    if (tcpip.empty() || tcpip.find_first_of(" \t") != std::string::npos || !quotable(tcpip)) {
        service.status = INVALID_TCPIP;
        return false;
    }
    if (!quotable(service.comport) || !serialPortExists(service.comport)) {
        service.status = INVALID_COMPORT;
        return false;
    }
    return true;
}
