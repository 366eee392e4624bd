// Movable memory blocks: the storage of every image block.
//
// A handle is an opaque value naming one block. A table maps each handle to its bytes, its
// size and its lock count. Lock returns the address of the bytes; the address stays valid
// until the matching Unlock that brings the count to zero. Reallocation may move the bytes,
// so it is refused while the block is locked. The table is guarded by a mutex, so blocks
// can be used from several threads (a single block is not shared between threads).
//
// Every function reports failure through its result and sets the calling thread's last
// error code; RaiseLastOSError turns that code into an EOSError.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qil {

using HGLOBAL = uintptr_t;

constexpr uint32_t GMEM_FIXED = 0x0000;
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
constexpr uint32_t GMEM_ZEROINIT = 0x0040;
constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Error codes set by the block functions.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_NOT_LOCKED = 158;

// Allocates Bytes bytes (zeroed with GMEM_ZEROINIT). Returns 0 on failure.
HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
// Locks the block and returns the address of its bytes; nullptr on failure. Locks nest.
void* GlobalLock(HGLOBAL h);
// Decrements the lock count. Returns true while the block stays locked; false when the
// count reached zero (last error ERROR_SUCCESS) or on failure (last error set).
bool GlobalUnlock(HGLOBAL h);
// Resizes an unlocked block; with GMEM_ZEROINIT the grown tail is zeroed. The bytes may move.
// Returns the handle (unchanged) or 0 on failure, in which case the block is untouched.
HGLOBAL GlobalReAlloc(HGLOBAL h, size_t bytes, uint32_t flags);
// Allocated size of the block, 0 for an invalid handle.
size_t GlobalSize(HGLOBAL h);
// The handle of the block whose bytes contain the address (the address of a lock); 0 if none.
HGLOBAL GlobalHandle(const void* address);
// Frees the block whatever its lock count. Returns 0 on success, the handle on failure.
HGLOBAL GlobalFree(HGLOBAL h);
// Current lock count of a block (0 for an invalid handle).
uint32_t GlobalLockCount(HGLOBAL h);

uint32_t GetLastError();
void SetLastError(uint32_t code);

// Raises EOSError for the calling thread's last error code.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(uint32_t code);
// The system's text for an error code.
const char* SysErrorMessage(uint32_t code);

// Largest block GlobalAlloc and GlobalReAlloc hand out (default 2 GiB). A larger request
// fails with ERROR_NOT_ENOUGH_MEMORY before anything is allocated.
void SetMaxBlockSize(size_t bytes);
size_t MaxBlockSize();

// Test hook: after Count further successful allocations or reallocations, the next one fails
// with ERROR_NOT_ENOUGH_MEMORY (and so on, one failure per arming). Negative disarms.
void SetAllocationFailureCountdown(int64_t count);
// The allocations still to succeed before the armed failure; -1 when none is armed (also
// after the failure happened).
int64_t AllocationFailureCountdown();

// Number of live blocks (for leak checks in tests).
size_t GlobalBlockCount();

}  // namespace qil
