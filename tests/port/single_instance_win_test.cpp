// The single-instance claim on Windows: the named mutex is created owned by
// the claiming thread, so no other thread can take it while the claim lasts.

#include "port/single_instance.h"
#include "support/names.h"

#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

TEST(SingleInstanceMutex, IsOwnedByTheClaimingThread)
{
    const std::string name = support::unique_name("Owned");
    ASSERT_TRUE(port::claim_single_instance(name));
    DWORD seen = WAIT_FAILED;
    std::thread other([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
        if (!mutex)
            return;
        seen = WaitForSingleObject(mutex, 0);
        if (seen == WAIT_OBJECT_0 || seen == WAIT_ABANDONED)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    EXPECT_EQ(seen, static_cast<DWORD>(WAIT_TIMEOUT)) << "the mutex was free to take";
}
