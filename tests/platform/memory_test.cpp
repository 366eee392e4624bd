#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/exceptions.h"
#include "platform/memory.h"

using namespace qil;

TEST(MemoryBlocks, AllocZeroedLockNestsAndUnlocks) {
    HGLOBAL h = GlobalAlloc(GHND, 100);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(GlobalSize(h), 100u);
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalLockCount(h), 2u);
    EXPECT_TRUE(GlobalUnlock(h));
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
    EXPECT_EQ(GlobalFree(h), 0u);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(MemoryBlocks, ReAllocKeepsBytesZeroesTailAndRefusesLockedBlock) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    std::memcpy(p, "abcd", 4);
    EXPECT_EQ(GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE | GMEM_ZEROINIT), 0u);
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    GlobalUnlock(h);
    ASSERT_EQ(GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
    p = static_cast<uint8_t*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
    for (int i = 4; i < (1 << 20); i += 4099) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(GlobalSize(h), size_t(1) << 20);
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST(MemoryBlocks, GlobalHandleFindsTheBlockOfAnAddressInside) {
    HGLOBAL a = GlobalAlloc(GHND, 64), b = GlobalAlloc(GHND, 64);
    auto* pa = static_cast<uint8_t*>(GlobalLock(a));
    auto* pb = static_cast<uint8_t*>(GlobalLock(b));
    EXPECT_EQ(GlobalHandle(pa), a);
    EXPECT_EQ(GlobalHandle(pa + 63), a);
    EXPECT_EQ(GlobalHandle(pb), b);
    int local = 0;
    EXPECT_EQ(GlobalHandle(&local), 0u);
    GlobalFree(a);
    GlobalFree(b);
    EXPECT_EQ(GlobalHandle(pa), 0u);
}

TEST(MemoryBlocks, LimitAndInjectedFailureSetNotEnoughMemory) {
    size_t old = MaxBlockSize();
    EXPECT_EQ(old, size_t(2) << 30);
    SetMaxBlockSize(1000);
    EXPECT_EQ(GlobalAlloc(GHND, 1001), 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    SetMaxBlockSize(old);

    SetAllocationFailureCountdown(1);
    HGLOBAL first = GlobalAlloc(GHND, 8);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(GlobalAlloc(GHND, 8), 0u);
    HGLOBAL third = GlobalAlloc(GHND, 8);
    EXPECT_NE(third, 0u);
    GlobalFree(first);
    GlobalFree(third);
}

TEST(MemoryBlocks, RaiseLastOSErrorFormats) {
    try {
        RaiseLastOSError(8);
        FAIL();
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, 8u);
        EXPECT_STREQ(e.what(), "System Error.  Code: 8.\r\nNot enough memory resources are available to process this command.");
    }
    try {
        RaiseLastOSError(0);
        FAIL();
    } catch (const EOSError& e) {
        EXPECT_STREQ(e.what(), "A call to an OS function failed");
    }
}

TEST(MemoryBlocks, ThreadsAllocateIndependently) {
    size_t before = GlobalBlockCount();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                HGLOBAL h = GlobalAlloc(GHND, 32);
                auto* p = static_cast<uint8_t*>(GlobalLock(h));
                p[0] = 1;
                GlobalUnlock(h);
                GlobalReAlloc(h, 64, GHND);
                GlobalFree(h);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(GlobalBlockCount(), before);
}
