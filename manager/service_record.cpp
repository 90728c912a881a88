// The service record: its fields by column, stop-event name, flags word and
// the worker command line.

#include "manager/service_record.h"

#include "manager/manager_globals.h"
#include "port/serial.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

std::string& ServiceRecord::field(int column)
{
    return const_cast<std::string&>(std::as_const(*this).field(column));
}

const std::string& ServiceRecord::field(int column) const
{
    switch (column) {
    case COLUMN_NAME: return name;
    case COLUMN_STATUS: return status;
    case COLUMN_TCPIP: return tcpip;
    case COLUMN_COMPORT: return comport;
    case COLUMN_BAUDRATE: return baudrate;
    case COLUMN_HANDSHAKE: return handshake;
    case COLUMN_PARITY: return parity;
    case COLUMN_STOPBITS: return stopbits;
    case COLUMN_DTRO: return dtro;
    case COLUMN_DTRC: return dtrc;
    }
    throw std::out_of_range("service column");
}

std::unique_ptr<ServiceRecord> newServiceRecord()
{
    auto record = std::make_unique<ServiceRecord>();
    char name[96];
    std::snprintf(name, sizeof name, "%s%d_%d", PRODUCT_PREFIX,
                  static_cast<int>(managerGlobals.processId), managerGlobals.serviceCounter++);
    record->eventName = name;
    return record;
}

int serviceLineFlags(const ServiceRecord& record)
{
    int flags = 0;
    if (record.handshake == "Xon/Xoff")
        flags |= port::SERIAL_LINE_XONXOFF;
    else if (record.handshake == "RTS/CTS")
        flags |= port::SERIAL_LINE_RTSCTS;
    if (record.parity == "Even")
        flags |= port::SERIAL_LINE_PARITY;
    else if (record.parity == "Odd")
        flags |= port::SERIAL_LINE_PARITY | port::SERIAL_LINE_ODD;
    if (record.stopbits == "2")
        flags |= port::SERIAL_LINE_TWO_STOP;
    return flags;
}

std::string workerCommandLine(const ServiceRecord& record, uintptr_t reportTarget)
{
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    return quoted(managerGlobals.modulePath) + ' ' + quoted(record.eventName) + ' ' +
           quoted(record.tcpip) + ' ' + quoted(record.comport) + ' ' + record.baudrate + ' ' +
           std::to_string(serviceLineFlags(record)) + ' ' +
           (record.dtro == "Yes" ? "1" : "0") + ' ' + (record.dtrc == "Yes" ? "1" : "0") + ' ' +
           std::to_string(static_cast<uint32_t>(reportTarget));
}
