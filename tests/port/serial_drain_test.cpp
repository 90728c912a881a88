// How long a serial port's close lets its queued output go out.

#include "port/serial.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(SerialDrain, TheLimitFollowsWhatIsQueuedAndTheBaudRate)
{
    using port::serial_drain_limit_ms;
    // Nothing queued: no wait.
    EXPECT_EQ(serial_drain_limit_ms(0, 9600), 0);
    // Ten bit times a byte, rounded up, plus the margin.
    EXPECT_EQ(serial_drain_limit_ms(960, 9600), 1000 + port::SERIAL_DRAIN_MARGIN_MS);
    EXPECT_EQ(serial_drain_limit_ms(1, 115200), 1 + port::SERIAL_DRAIN_MARGIN_MS);
    EXPECT_EQ(serial_drain_limit_ms(4096, 19200), 2134 + port::SERIAL_DRAIN_MARGIN_MS);
    // Slow lines and long queues reach the most, never more.
    EXPECT_EQ(serial_drain_limit_ms(4096, 300), port::SERIAL_DRAIN_MAX_MS);
    EXPECT_EQ(serial_drain_limit_ms(UINT32_MAX, 1), port::SERIAL_DRAIN_MAX_MS);
    // An unknown rate waits the most.
    EXPECT_EQ(serial_drain_limit_ms(10, 0), port::SERIAL_DRAIN_MAX_MS);
    EXPECT_EQ(serial_drain_limit_ms(10, -9600), port::SERIAL_DRAIN_MAX_MS);
    EXPECT_LE(port::SERIAL_DRAIN_MAX_MS, 5000) << "a close waits a few seconds at most";
}
