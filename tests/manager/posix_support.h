#pragma once
// Pseudo-terminals standing in for boards, a device-map folder that decides
// which COM names exist, and a front end that receives worker reports.

#include "test_support.h"

#include "port/report.h"
#include "support/board.h"
#include "support/deadline.h"
#include "support/device_map.h"

#include <poll.h>

using support::Board;
using support::Clock;
using support::DeviceMap;
using support::ms_since;
using support::wait_until;

// A fake front end with a real report endpoint, as the Linux window has.
class ReportingFrontEnd : public FakeFrontEnd {
public:
    ReportingFrontEnd()
    {
        EXPECT_TRUE(receiver.open());
        target = receiver.target();
    }

    // Waits for one report and hands it to the table.
    bool deliverReport(ServiceTable& table, int timeoutMs, bool* matched = nullptr)
    {
        pollfd p {receiver.fd(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        int handled = receiver.dispatch([&](uint32_t processId, const char* text) {
            bool found = table.onWorkerReport(processId, text);
            if (matched)
                *matched = found;
            return found;
        });
        return handled > 0;
    }

    void deliverPendingReports() override
    {
        if (reportsTo)
            receiver.dispatch([this](uint32_t processId, const char* text) {
                return reportsTo->onWorkerReport(processId, text);
            });
    }

    port::ReportReceiver receiver;
    ServiceTable* reportsTo = nullptr; // where the monitoring pass delivers
};
