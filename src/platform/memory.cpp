#include "platform/memory.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/exceptions.h"

namespace qil {
namespace {

struct Block {
    uint8_t* bytes;
    size_t size;
    uint32_t locks;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<HGLOBAL, Block> blocks;
    std::map<uintptr_t, HGLOBAL> byAddress;  // start address -> handle
    HGLOBAL next = 0x1000;
    size_t maxBlock = size_t(2) << 30;
    int64_t failCountdown = -1;
};

Table& table() {
    static Table* t = new Table;  // never destroyed: blocks may outlive static destructors
    return *t;
}

thread_local uint32_t lastError = 0;

// Called with the mutex held: whether an injected failure is due.
bool injectFailure(Table& t) {
    if (t.failCountdown < 0) return false;
    if (t.failCountdown == 0) {
        t.failCountdown = -1;
        return true;
    }
    --t.failCountdown;
    return false;
}

}  // namespace

uint32_t GetLastError() { return lastError; }
void SetLastError(uint32_t code) { lastError = code; }

HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    if (bytes > t.maxBlock || injectFailure(t)) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    // A zero-byte block still gets an address of its own.
    size_t n = bytes ? bytes : 1;
    auto* p = static_cast<uint8_t*>((flags & GMEM_ZEROINIT) ? std::calloc(n, 1) : std::malloc(n));
    if (!p) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    HGLOBAL h = t.next;
    t.next += 8;
    t.blocks.emplace(h, Block{p, bytes, 0});
    t.byAddress.emplace(reinterpret_cast<uintptr_t>(p), h);
    return h;
}

void* GlobalLock(HGLOBAL h) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.blocks.find(h);
    if (it == t.blocks.end()) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    ++it->second.locks;
    return it->second.bytes;
}

bool GlobalUnlock(HGLOBAL h) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.blocks.find(h);
    if (it == t.blocks.end()) {
        lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    if (it->second.locks == 0) {
        lastError = ERROR_NOT_LOCKED;
        return false;
    }
    --it->second.locks;
    if (it->second.locks == 0) {
        lastError = ERROR_SUCCESS;
        return false;
    }
    return true;
}

HGLOBAL GlobalReAlloc(HGLOBAL h, size_t bytes, uint32_t flags) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.blocks.find(h);
    if (it == t.blocks.end()) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    Block& b = it->second;
    if (b.locks != 0) {
        lastError = ERROR_LOCK_VIOLATION;
        return 0;
    }
    if (bytes > t.maxBlock || injectFailure(t)) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    size_t n = bytes ? bytes : 1;
    auto* p = static_cast<uint8_t*>(std::realloc(b.bytes, n));
    if (!p) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    if ((flags & GMEM_ZEROINIT) && bytes > b.size) std::memset(p + b.size, 0, bytes - b.size);
    t.byAddress.erase(reinterpret_cast<uintptr_t>(b.bytes));
    t.byAddress.emplace(reinterpret_cast<uintptr_t>(p), h);
    b.bytes = p;
    b.size = bytes;
    return h;
}

size_t GlobalSize(HGLOBAL h) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.blocks.find(h);
    if (it == t.blocks.end()) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return it->second.size;
}

HGLOBAL GlobalHandle(const void* address) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto a = reinterpret_cast<uintptr_t>(address);
    auto it = t.byAddress.upper_bound(a);
    if (it != t.byAddress.begin()) {
        --it;
        const Block& b = t.blocks.at(it->second);
        if (a >= it->first && a < it->first + (b.size ? b.size : 1)) return it->second;
    }
    lastError = ERROR_INVALID_HANDLE;
    return 0;
}

HGLOBAL GlobalFree(HGLOBAL h) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.blocks.find(h);
    if (it == t.blocks.end()) {
        lastError = ERROR_INVALID_HANDLE;
        return h;
    }
    t.byAddress.erase(reinterpret_cast<uintptr_t>(it->second.bytes));
    std::free(it->second.bytes);
    t.blocks.erase(it);
    return 0;
}

uint32_t GlobalLockCount(HGLOBAL h) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.blocks.find(h);
    return it == t.blocks.end() ? 0 : it->second.locks;
}

void SetMaxBlockSize(size_t bytes) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.maxBlock = bytes;
}

size_t MaxBlockSize() {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    return t.maxBlock;
}

void SetAllocationFailureCountdown(int64_t count) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.failCountdown = count;
}

int64_t AllocationFailureCountdown() {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    return t.failCountdown;
}

size_t GlobalBlockCount() {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    return t.blocks.size();
}

const char* SysErrorMessage(uint32_t code) {
    switch (code) {
        case ERROR_SUCCESS: return "The operation completed successfully.";
        case 2: return "The system cannot find the file specified.";
        case 3: return "The system cannot find the path specified.";
        case 5: return "Access is denied.";
        case ERROR_INVALID_HANDLE: return "The handle is invalid.";
        case ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory resources are available to process this command.";
        case ERROR_LOCK_VIOLATION: return "The process cannot access the file because another process has locked a portion of the file.";
        case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
        case ERROR_NOT_LOCKED: return "The segment is already unlocked.";
        default: return "Unknown error.";
    }
}

void RaiseLastOSError(uint32_t code) {
    if (code == 0) throw EOSError(0, "A call to an OS function failed");
    throw EOSError(code, Format("System Error.  Code: %d.\r\n%s", static_cast<int>(code), SysErrorMessage(code)));
}

void RaiseLastOSError() { RaiseLastOSError(lastError); }

}  // namespace qil
