// Every seed of the fuzz targets and every input the fuzzers found (tests/fuzz_regressions/
// <target>/) goes through its target's checks again: each loads, or is refused with a library
// Exception, and leaves no block behind; nothing else may happen.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "dib/image_file.h"
#include "fuzz/targets.h"

using namespace qil;
using namespace qil::fuzz;

namespace {

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(dir))
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& file) {
    std::ifstream f(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class FuzzInputs : public ::testing::TestWithParam<TTarget> {
protected:
    void SetUp() override {
        saved_ = MaxImageBytes();
        SetMaxImageBytes(kFuzzMaxImageBytes);
    }
    void TearDown() override { SetMaxImageBytes(saved_); }

    // Runs every file of Dir; answers how many there were.
    size_t Replay(const std::filesystem::path& dir) {
        size_t n = 0;
        for (const auto& file : Inputs(dir)) {
            ++n;
            SCOPED_TRACE(file.string());
            std::vector<uint8_t> bytes = ReadAll(file);
            try {
                Exercise(GetParam(), bytes.data(), bytes.size());
            } catch (const std::exception& e) {
                ADD_FAILURE() << "fault: " << e.what();
            }
        }
        return n;
    }

private:
    uint64_t saved_ = 0;
};

TEST_P(FuzzInputs, SeedsAndFoundInputsLoadOrAreRefusedCleanly) {
    const char* name = TargetName(GetParam());
    EXPECT_GT(Replay(std::filesystem::path(QIL_FUZZ_CORPUS_DIR) / name), 0u) << "no seeds for " << name;
    Replay(std::filesystem::path(QIL_FUZZ_REGRESSIONS_DIR) / name);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs,
                         ::testing::Values(TTarget::Bitmap, TTarget::Tiff, TTarget::Png, TTarget::Jpeg,
                                           TTarget::Annotations),
                         [](const ::testing::TestParamInfo<TTarget>& info) { return std::string(TargetName(info.param)); });

}  // namespace
