// The error line a client gets when its serial port does not open.

#include "worker/worker.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

TEST(ErrorLine, CarriesTheTextAndALineBreak)
{
    char line[256];
    int n = worker_error_line(line, sizeof line, "can not open port to execution environment");
    EXPECT_STREQ(line, "Error: can not open port to execution environment\n");
    EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
}

TEST(ErrorLine, ALongTextIsCutToFitAndStillEndsTheLine)
{
    // The library's message buffer holds up to 255 characters.
    const std::string text(255, 'a');
    char line[256 + 16];
    std::memset(line, 'Z', sizeof line);
    int n = worker_error_line(line, 256, text.c_str());
    EXPECT_EQ(n, 255);
    EXPECT_EQ(std::strlen(line), 255u);
    EXPECT_EQ(std::string(line, 7), "Error: ");
    EXPECT_EQ(line[254], '\n');
    EXPECT_EQ(line[255], '\0');
    EXPECT_EQ(line[256], 'Z') << "written past the buffer";
    // Exactly fitting text is not cut.
    const std::string fits(247, 'b');
    EXPECT_EQ(worker_error_line(line, 256, fits.c_str()), 255);
    EXPECT_EQ(std::string(line), "Error: " + fits + "\n");
}
