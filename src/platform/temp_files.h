#pragma once
// Temporary files that an interrupted program must not leave behind.
//
// A file written atomically is first written under a temporary name next to its target and
// renamed over it when complete. If the program is stopped by SIGINT, SIGTERM or SIGHUP in
// between, the target is untouched but the temporary file would stay. While a
// TTemporaryFileGuard lives, its path is in a small table that the signal handlers installed by
// RemoveTemporaryFilesOnSignals read: they unlink every path in it and then end the program
// with the signal's default action, so the exit status still says which signal it was.
//
// Notes:
//   - The table has a fixed number of slots (enough for every thread of a batch run); a path
//     that finds no free slot, or is longer than a slot, is simply not tracked.
//   - The handlers touch only the table and unlink(), which are safe in a signal handler.
//   - Without RemoveTemporaryFilesOnSignals the guards cost two atomic stores and do nothing
//     else; libraries never install handlers themselves, programs do.
#include <string>

namespace qil {

class TTemporaryFileGuard {
public:
    explicit TTemporaryFileGuard(const std::string& path);
    ~TTemporaryFileGuard();
    TTemporaryFileGuard(const TTemporaryFileGuard&) = delete;
    TTemporaryFileGuard& operator=(const TTemporaryFileGuard&) = delete;

    // True when the path found a slot of the table.
    bool Tracked() const { return slot_ >= 0; }

private:
    int slot_ = -1;
};

// Installs the handlers of SIGINT, SIGTERM and SIGHUP that remove the tracked temporary files.
// A signal the process ignores (as SIGHUP under nohup) stays ignored.
void RemoveTemporaryFilesOnSignals();

}  // namespace qil
