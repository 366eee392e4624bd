#include "cli/cli.h"
#include "cli/sha256.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dib/dib.h"
#include "dib/image_file.h"

using namespace qil;
namespace fs = std::filesystem;

namespace {

struct TOutcome {
    int Status;
    std::string Out, Err;
};

TOutcome Tool(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = cli::Run(args, out, err, false);
    return {status, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("qil-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }

    // A page with text-like bars, one speck and (optionally) more pages, written as TIFF.
    std::string MakePage(const std::string& name, uint8_t format, int pages = 1) {
        std::string path = (Dir / name).string();
        for (int p = 0; p < pages; ++p) {
            TDIB d;
            d.CreateNew(320, 240 + 10 * p, format, 300, 300);
            d.Fill(0xFF);
            for (int32_t y = 40; y < 200; y += 30)
                for (int32_t yy = y; yy < y + 10; ++yy)
                    for (int32_t x = 30; x < 290; ++x)
                        if (format == fmt24Bit) d.SetPixelColor(x, yy, 0);
                        else d.SetPixel(x, yy, d.BlackIndex());
            if (format == fmt24Bit) d.SetPixelColor(5, 5, 0);
            else d.SetPixel(5, 5, d.BlackIndex());
            d.SaveToTiffFile(path, p > 0, tcNone, 16);
        }
        return path;
    }
    std::string P(const std::string& name) { return (Dir / name).string(); }
    fs::path Dir;
};

}  // namespace

TEST_F(CliTest, UsageErrorsExitTwoWithAClearMessage) {
    std::string in = MakePage("in.tif", fmt1Bit);
    struct Case {
        std::vector<std::string> Args;
        const char* Message;
    };
    const Case cases[] = {
        {{"frobnicate"}, "unknown command: frobnicate"},
        {{"despeckle", in, "-o", P("o.tif"), "--max-h", "101"}, "--max-h must be between 1 and 100"},
        {{"deskew", in, "-o", P("o.tif"), "--range", "0"}, "--range must be between 1 and 45"},
        {{"deskew", in, "--resolution", "0,1", "--estimate-only"}, "is not a valid floating point value"},
        {{"despeckle", in, "-o", P("o.xyz")}, "unknown output extension"},
        {{"despeckle", in}, "no output"},
        {{"despeckle", "--bogus", in, "-o", P("o.tif")}, "unknown option for despeckle: --bogus"},
        {{"threshold", in, "-o", P("o.tif"), "--fixed", "100", "--advanced"}, "at most one mode"},
        {{"threshold", in, "-o", P("o.tif"), "--contrast", "4"}, "only with --dynamic"},
        {{"threshold", in, "-o", P("o.tif"), "--fixed", "255"}, "between 1 and 254"},
        {{"repair", in, "-o", P("o.tif"), "--aggressivity", "extreme"}, "very-low, low, medium"},
        {{"drop-ink", in, "-o", P("o.tif"), "--aggressivity", "256"}, "between 0 and 255"},
        {{"despeckle", in, "-o", P("o.png"), "--all-pages"}, "multi-page TIFF"},
        {{"chain", in, "-o", P("o.tif")}, "at least one step"},
        {{"chain", in, "-o", P("o.tif"), "despeckle", ","}, "a step must follow"},
        {{"despeckle", in, P("sub/in.tif"), "-o", P("out")}, "two inputs are named in"},
    };
    for (const Case& c : cases) {
        TOutcome r = Tool(c.Args);
        EXPECT_EQ(r.Status, 2) << c.Message;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
        EXPECT_FALSE(fs::exists(P("o.tif")));
    }
}

TEST_F(CliTest, HelpListsEveryOptionWithItsDefault) {
    TOutcome r = Tool({"remove-lines", "--help"});
    EXPECT_EQ(r.Status, 0);
    for (const char* opt : {"--horizontal", "--vertical", "--min-h", "--holes-h", "--ratio-h", "--min-v", "--holes-v",
                            "--ratio-v", "--no-clean-borders", "--reconnect", "default 100, 5 ... 2000"})
        EXPECT_NE(r.Out.find(opt), std::string::npos) << opt;
    EXPECT_NE(Tool({"--help"}).Out.find("chain"), std::string::npos);
}

TEST_F(CliTest, OneInputPrintsTheMessageAloneAndWritesTheResult) {
    std::string in = MakePage("in.tif", fmt1Bit);
    for (const char* ext : {"tif", "bmp", "png", "jpg"}) {
        std::string out = P(std::string("out.") + ext);
        TOutcome r = Tool({"despeckle", in, "-o", out, "--max-h", "2"});
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(r.Out, "Despeckle executed removing 1 points.\n");
        TDIB d;
        d.LoadFromFile(out, 0);
        EXPECT_EQ(d.Width(), 320);
        EXPECT_EQ(d.BitCount(), std::string(ext) == "jpg" ? 8 : 1);
    }
    // Nothing but the results is left in the directory: the temporary names are gone.
    int files = 0;
    for (auto& e : fs::directory_iterator(Dir)) files += e.is_regular_file();
    EXPECT_EQ(files, 5);
}

TEST_F(CliTest, MaxImageMbRefusesLargerImagesForThisRunOnly) {
    const uint64_t before = MaxImageBytes();
    std::string big = P("big.tif");
    TDIB d;
    d.CreateNew(1200, 1000, fmt8Bit, 300, 300);
    d.SaveToTiffFile(big, false, tcLzw, 16);
    TOutcome limited = Tool({"threshold", "--max-image-mb", "1", big, "-o", P("o.tif")});
    EXPECT_EQ(limited.Status, 1);
    EXPECT_NE(limited.Err.find("Image too large: 1200 x 1000 pixels at 8 bits per pixel need 1201064 bytes, "
                               "more than the limit of 1048576 bytes"),
              std::string::npos)
        << limited.Err;
    EXPECT_FALSE(fs::exists(P("o.tif")));
    EXPECT_EQ(MaxImageBytes(), before);
    EXPECT_EQ(Tool({"threshold", "--max-image-mb", "2", big, "-o", P("o.tif")}).Status, 0);
    EXPECT_EQ(Tool({"threshold", "--max-image-mb", "0", big, "-o", P("o.tif")}).Status, 2);
}

TEST_F(CliTest, EstimateOnlyWritesNothing) {
    std::string in = MakePage("in.tif", fmt8Bit);
    TOutcome r = Tool({"deskew", "--estimate-only", in, "-o", P("never.tif")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("Estimated skew angle is: ", 0), 0u);
    EXPECT_FALSE(fs::exists(P("never.tif")));
}

TEST_F(CliTest, FailuresKeepAnExistingOutputAndOtherInputsGoOn) {
    std::string gray = MakePage("gray.tif", fmt8Bit);
    std::string good = MakePage("good.tif", fmt1Bit);
    {
        std::ofstream broken(P("broken.tif"), std::ios::binary);
        broken << "II*\0garbage";
    }
    {
        std::ofstream keep(P("keep.tif"));
        keep << "precious";
    }
    TOutcome r = Tool({"despeckle", gray, "-o", P("keep.tif")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "qil: " + gray + ": despeckle needs a page of 1 bits per pixel; the page has 8 bits per pixel\n");
    std::ifstream keep(P("keep.tif"));
    std::string content;
    keep >> content;
    EXPECT_EQ(content, "precious");

    r = Tool({"despeckle", P("broken.tif"), good, P("missing.tif"), "-o", P("out"), "-j", "2"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, good + ": Despeckle executed removing 1 points.\n");
    EXPECT_EQ(r.Err.rfind("qil: " + P("broken.tif") + ": ", 0), 0u) << r.Err;
    EXPECT_NE(r.Err.find("qil: " + P("missing.tif") + ": "), std::string::npos);
    EXPECT_TRUE(fs::exists(P("out/good.tif")));
    EXPECT_FALSE(fs::exists(P("out/broken.tif")));
}

TEST_F(CliTest, PagesAllPagesAndThePageCount) {
    std::string in = MakePage("three.tif", fmt1Bit, 3);
    TOutcome r = Tool({"despeckle", in, "--page", "3", "-o", P("o.tif")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("the file has 3 pages"), std::string::npos) << r.Err;

    r = Tool({"despeckle", in, "--all-pages", "-o", P("all.tif")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out,
              "page 0: Despeckle executed removing 1 points.\n"
              "page 1: Despeckle executed removing 1 points.\n"
              "page 2: Despeckle executed removing 1 points.\n");
    TDIB d;
    EXPECT_EQ(d.GetPageCount(P("all.tif")), 3);
    d.LoadFromFile(P("all.tif"), 2);
    EXPECT_EQ(d.Height(), 260);

    r = Tool({"info", "--json", in});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("[{\"file\": \"" + in + "\", \"page_count\": 3, \"pages\": [{\"page\": 0, \"width\": 320, "
                          "\"height\": 240, \"bits_per_pixel\": 1, \"x_resolution\": 300, \"y_resolution\": 300}",
                          0),
              0u)
        << r.Out;
}

TEST_F(CliTest, ChainsRunEachStepOnThePreviousResult) {
    std::string in = MakePage("color.tif", fmt24Bit);
    TOutcome r = Tool({"chain", in, "-o", P("o.tif"), "threshold", "--auto", "otsu", ",", "deskew", "--estimate-only",
                       ",", "despeckle", ",", "find-blocks", "--json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream lines(r.Out);
    std::string l1, l2, l3, l4, l5;
    std::getline(lines, l1);
    std::getline(lines, l2);
    std::getline(lines, l3);
    std::getline(lines, l4);
    std::getline(lines, l5);
    EXPECT_EQ(l1, "Image binarized.");
    EXPECT_EQ(l2.rfind("Estimated skew angle is: ", 0), 0u);
    EXPECT_EQ(l3, "Despeckle executed removing 1 points.");
    EXPECT_EQ(l4, "Text blocks have a single frame, images blocks have a double frame.");
    EXPECT_EQ(l5.rfind("{\"text_blocks\": [", 0), 0u);
    TDIB d;
    d.LoadFromFile(P("o.tif"), 0);
    EXPECT_EQ(d.BitCount(), 1);

    // The depth rule applies at each step: despeckle cannot follow a color page.
    r = Tool({"chain", in, "-o", P("p.tif"), "deskew", ",", "despeckle"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("despeckle needs a page of 1 bits per pixel; the page has 24 bits per pixel"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(P("p.tif")));
}

TEST_F(CliTest, TheExecutableReportsUsageErrorsWithStatusTwo) {
    std::string cmd = std::string(QIL_TOOL_PATH) + " despeckle --max-h 0 x.tif -o y.tif 2>/dev/null";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST(Sha256, KnownDigestsAcrossThePaddingBoundary) {
    auto hex = [](const std::string& s) { return cli::Sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
    EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST_F(CliTest, AnnotationsJsonIsPrintedAlsoWhenReadingFails) {
    std::string in = MakePage("plain.tif", fmt1Bit);
    TOutcome r = Tool({"annotations", in, "--json"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "{\"error\": \"TIFF Tag Not Found: 32932\", \"default_group\": \"[Senza Nome]\", \"annotations\": []}\n");
}
