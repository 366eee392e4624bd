// Temporary files tracked for removal when a signal ends the program.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/temp_files.h"

namespace fs = std::filesystem;
using namespace qil;

namespace {

fs::path ScratchDir() {
    std::string name = "qil-temp-files-";
    name += std::to_string(::getpid());
    fs::path dir = fs::temp_directory_path() / name;
    fs::create_directories(dir);
    return dir;
}

void Touch(const fs::path& path) { std::ofstream(path) << "partial"; }

// Runs Body in a child process and returns its wait status.
template <typename F>
int InChild(F body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

}  // namespace

TEST(TemporaryFiles, SignalRemovesTrackedFilesOnlyAndKeepsTheSignalAsExitStatus) {
    fs::path dir = ScratchDir();
    fs::path tracked = dir / "out.tif.tmp-1", released = dir / "old.tif.tmp-2", kept = dir / "out.tif";
    for (const fs::path& p : {tracked, released, kept}) Touch(p);

    int status = InChild([&] {
        RemoveTemporaryFilesOnSignals();
        { TTemporaryFileGuard done(released.string()); }
        TTemporaryFileGuard writing(tracked.string());
        ::raise(SIGINT);
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_FALSE(fs::exists(tracked));
    EXPECT_TRUE(fs::exists(released));
    EXPECT_TRUE(fs::exists(kept));
    fs::remove_all(dir);
}

TEST(TemporaryFiles, IgnoredSignalStaysIgnoredAndFullTableTracksNoMore) {
    fs::path dir = ScratchDir();
    fs::path file = dir / "a.tmp";
    Touch(file);
    int status = InChild([&] {
        ::signal(SIGHUP, SIG_IGN);
        RemoveTemporaryFilesOnSignals();
        TTemporaryFileGuard writing(file.string());
        ::raise(SIGHUP);  // ignored: the child goes on and exits normally
        std::vector<std::unique_ptr<TTemporaryFileGuard>> guards;
        bool sawUntracked = false;
        for (int i = 0; i < 200 && !sawUntracked; ++i) {
            fs::path path = dir / "x";
            path += std::to_string(i);
            guards.push_back(std::make_unique<TTemporaryFileGuard>(path.string()));
            sawUntracked = !guards.back()->Tracked();
        }
        TTemporaryFileGuard tooLong(std::string(5000, 'a'));
        ::_exit(sawUntracked && !tooLong.Tracked() ? 0 : 3);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(file));
    fs::remove_all(dir);
}
