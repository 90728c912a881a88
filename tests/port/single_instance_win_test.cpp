// The single-instance claim on Windows: the named mutex lives in the
// machine-wide namespace, so that a manager of another session (which
// shares only that namespace with this one) keeps a second one out; it is
// created owned by the claiming thread, so no other thread can take it
// while the claim lasts.

#include "port/single_instance.h"
#include "support/names.h"

#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

TEST(SingleInstanceMutex, IsMachineWideAndOwnedByTheClaimingThread)
{
    const std::string name = support::unique_name("Owned");
    ASSERT_TRUE(port::claim_single_instance(name));
    DWORD seen = WAIT_FAILED;
    std::thread other([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name).c_str());
        if (!mutex)
            return;
        seen = WaitForSingleObject(mutex, 0);
        if (seen == WAIT_OBJECT_0 || seen == WAIT_ABANDONED)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    EXPECT_EQ(seen, static_cast<DWORD>(WAIT_TIMEOUT)) << "no machine-wide mutex, or it was free to take";
}

TEST(SingleInstanceMutex, AManagerOfAnotherSessionKeepsThisOneOut)
{
    // What a manager in another session leaves visible here: the name in
    // the machine-wide namespace, not in this session's own.
    const std::string name = support::unique_name("Session");
    HANDLE other = CreateMutexA(nullptr, TRUE, ("Global\\" + name).c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(port::claim_single_instance(name));
    CloseHandle(other);
    EXPECT_TRUE(port::claim_single_instance(name)) << "free again once that manager has ended";
}
