// The table of services: adding and deleting services, serial port
// discovery and validation. Worker supervision is in supervision.cpp.

#include "manager/service_table.h"

#include "manager/busy_cursor.h"
#include "manager/product_texts.h"
#include "port/serial_probe.h"

#include <cstdio>
#include <utility>

namespace {

constexpr int HIGHEST_PORT_NUMBER = 256;

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
    const auto stopBy = StopClock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS);
    std::optional<StopClock::time_point> killBy;
    for (auto& record : rows_) {
        if (!record || !record->active)
            continue;
        awaitWorker(*record, stopBy, killBy);
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
    rows_[row]->field(COLUMN_STATUS) = status;
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
                    service->field(COLUMN_COMPORT) = name;
                    break;
                }
            }
        }
        if (service->field(COLUMN_COMPORT).empty())
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
    const std::string& tcpip = service.field(COLUMN_TCPIP);
    if (tcpip.empty() || tcpip.find_first_of(" \t") != std::string::npos || !quotable(tcpip)) {
        service.field(COLUMN_STATUS) = STATUS_INVALID_TCPIP;
        return false;
    }
    const std::string& comport = service.field(COLUMN_COMPORT);
    if (!quotable(comport) || !serialPortExists(comport)) {
        service.field(COLUMN_STATUS) = STATUS_INVALID_COMPORT;
        return false;
    }
    return true;
}
