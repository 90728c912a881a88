#pragma once
// Status reports as a manager receives them from its workers.

#include "port/report.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace support {

// The sender's process id and its text.
using Report = std::pair<uint32_t, std::string>;

// Handles the receiver's reports until one has come or timeout_ms have
// passed; every report handled. `during` runs while a report is being
// handled, when its sender still waits for the answer.
std::vector<Report> collect_reports(port::ReportReceiver& receiver, int timeout_ms,
                                    const std::function<void()>& during = {});

} // namespace support
