#include "support/reports.h"

#include "support/deadline.h"

namespace support {

std::vector<Report> collect_reports(port::ReportReceiver& receiver, int timeout_ms,
                                    const std::function<void()>& during)
{
    std::vector<Report> got;
    wait_until([&] {
        receiver.dispatch([&](uint32_t pid, const char* text) {
            if (during)
                during();
            got.emplace_back(pid, text);
            return true;
        });
        return !got.empty();
    }, timeout_ms, 5);
    return got;
}

} // namespace support
