// The column and value tables of the service list.

#include "manager/commands.h"

const std::array<const char*, SERVICE_COLUMNS> columnHeaders = {
    "Name", "Status", "TCP/IP Port", "Serial Port", "Baud Rate",
    "Handshake", "Parity", "Stop Bits", "DTRO", "DTRC",
};
const std::array<int, SERVICE_COLUMNS> defaultColumnWidths = {70, 60, 70, 60, 55, 70, 50, 55, 45, 45};

const std::vector<std::string> baudRateChoices = {
    "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200", "230400",
};
const std::vector<std::string> handshakeChoices = {"Xon/Xoff", "RTS/CTS", "None"};
const std::vector<std::string> parityChoices = {"Even", "Odd", "None"};
const std::vector<std::string> stopBitsChoices = {"1", "2"};
const std::vector<std::string> dtroChoices = {"No", "Yes"};
const std::vector<std::string> dtrcChoices = {"No", "Yes"};
