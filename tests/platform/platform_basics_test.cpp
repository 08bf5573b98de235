// Errors and their texts, the millisecond clock and the platform facts.
#include "platform/clock.h"
#include "platform/platform_info.h"
#include "platform/system_error.h"
#include "support/test_platform.h"

#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

namespace mbus::platform {
namespace {

TEST(SystemErrorTest, MessagesOfTheNumbersTheLayerProduces) {
    if (testing::RunsUnderWine()) {
        // Wine's message table has texts of its own ("Access denied."), and none for 258.
        EXPECT_EQ(SystemMessage(12345), "Unknown error 12345.");
        for (std::uint32_t code : {2u, 5u, 6u, 87u, 995u, 997u})
            EXPECT_FALSE(SystemMessage(code).empty()) << code;
        return;
    }
    EXPECT_EQ(SystemMessage(2), "The system cannot find the file specified.");
    EXPECT_EQ(SystemMessage(5), "Access is denied.");
    EXPECT_EQ(SystemMessage(87), "The parameter is incorrect.");
    EXPECT_EQ(SystemMessage(995), "The I/O operation has been aborted because of either a "
                                  "thread exit or an application request.");
    EXPECT_EQ(SystemMessage(1167), "The device is not connected.");
    EXPECT_EQ(SystemMessage(12345), "Unknown error 12345.");
    for (std::uint32_t code : {0u, 3u, 6u, 122u, 234u, 258u, 259u, 996u, 997u, 1460u})
        EXPECT_EQ(SystemMessage(code).find("Unknown"), std::string::npos) << code;
}

TEST(SystemErrorTest, ErrnoValuesMapOntoPlatformNumbers) {
    EXPECT_EQ(ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorFromErrno(ENOTDIR), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorFromErrno(EBUSY), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorFromErrno(EWOULDBLOCK), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorFromErrno(EBADF), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ErrorFromErrno(ENOMEM), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ErrorFromErrno(EINVAL), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ErrorFromErrno(EIO), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ErrorFromErrno(ENOTTY), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(ErrorFromErrno(EXDEV), ERROR_GEN_FAILURE);
    // Why a file cannot be written is told as such, not as a failing device.
    EXPECT_EQ(ErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
    EXPECT_EQ(ErrorFromErrno(EFBIG), ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(ErrorFromErrno(EISDIR), ERROR_DIRECTORY_NOT_SUPPORTED);
#ifdef EDQUOT
    EXPECT_EQ(ErrorFromErrno(EDQUOT), ERROR_DISK_QUOTA_EXCEEDED);
#endif
#ifndef _WIN32 // the system's own texts there
    EXPECT_EQ(SystemMessage(ERROR_DISK_FULL), "There is not enough space on the disk.");
    EXPECT_EQ(SystemMessage(ERROR_DISK_QUOTA_EXCEEDED),
              "The requested file operation failed because the storage quota was exceeded.");
    EXPECT_EQ(SystemMessage(ERROR_FILE_TOO_LARGE),
              "The file size exceeds the limit allowed and cannot be saved.");
    EXPECT_EQ(SystemMessage(ERROR_DIRECTORY_NOT_SUPPORTED),
              "An operation is not supported on a directory.");
#endif
}

TEST(SystemErrorTest, LastErrorBelongsToTheCallingThread) {
    // Checked before the join: ending a thread is a system call that may set the joiner's error.
    std::atomic<bool> proceed{false};
    std::atomic<bool> done{false};
    std::uint32_t seenThere = 1;
    std::thread other([&] {
        while (!proceed)
            std::this_thread::yield();
        seenThere = LastError();
        SetLastError(ERROR_INVALID_HANDLE);
        done = true;
    });
    SetLastError(ERROR_ACCESS_DENIED);
    proceed = true;
    while (!done)
        std::this_thread::yield();
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    other.join();
    EXPECT_EQ(seenThere, ERROR_SUCCESS);
}

TEST(ClockTest, TickCountAdvancesAtLeastBySleptTime) {
    const std::uint32_t start = TickCount();
    Sleep(20);
    const std::uint32_t elapsed = TickCount() - start; // unsigned: right across a wrap too
    EXPECT_GE(elapsed, 20u);
    Sleep(0); // only yields
}

TEST(PlatformInfoTest, NtFamilyAndTheCompiler) {
    EXPECT_TRUE(IsNtFamily());
    const std::string compiler = CompilerDescription();
    EXPECT_TRUE(compiler.rfind("GCC ", 0) == 0 || compiler.rfind("Clang ", 0) == 0) << compiler;
    EXPECT_NE(compiler.back(), ' ');
}

} // namespace
} // namespace mbus::platform
