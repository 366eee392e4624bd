#include "platform/temp_files.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace qil {
namespace {

constexpr int kSlots = 64;
constexpr size_t kPathBytes = 4096;

// A slot is free (0), being filled or emptied (1), or holds a path the handlers remove (2).
struct TSlot {
    std::atomic<int> State{0};
    char Path[kPathBytes];
};

TSlot slots[kSlots];

extern "C" void RemoveTrackedFiles(int signalNumber) {
    for (TSlot& slot : slots)
        if (slot.State.load(std::memory_order_acquire) == 2) ::unlink(slot.Path);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

TTemporaryFileGuard::TTemporaryFileGuard(const std::string& path) {
    if (path.size() >= kPathBytes) return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!slots[i].State.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) continue;
        std::memcpy(slots[i].Path, path.c_str(), path.size() + 1);
        slots[i].State.store(2, std::memory_order_release);
        slot_ = i;
        return;
    }
}

TTemporaryFileGuard::~TTemporaryFileGuard() {
    if (slot_ < 0) return;
    slots[slot_].State.store(0, std::memory_order_release);
}

void RemoveTemporaryFilesOnSignals() {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        ::sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = RemoveTrackedFiles;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace qil
