// fits-convert driven as a user drives it: arguments in, files and exit status out.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../../orlix/test_support.h"

namespace {

using testing_support::Sample;
using testing_support::TempDir;

int RunCli(const std::string& args, const std::string& log) {
    std::string command = std::string(FITS_CONVERT) + " " + args + " > '" + log + "' 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(FitsConvert, CommandLineCases) {
    TempDir dir;
    std::filesystem::create_directory(dir / "out");
    std::filesystem::create_directory(dir / "out2");
    std::ofstream(dir / "custom.txt")
        << "SIMPLE  = T\r\nBITPIX  = 16\r\nNAXIS   = 1\r\nNAXIS1  = 4\r\n";
    std::ofstream(dir / "bad.spe") << "not spe";
    const std::string spe = Sample("hene_int32_1340x1.spe");
    const struct {
        std::string args;
        int status;
        std::string made;  // a file that must exist afterwards ("" for none)
        std::string log_holds;
    } cases[] = {
        {"--help", 0, "", "Usage: fits-convert"},
        {"", 2, "", "Usage"},
        {"--frobnicate x", 2, "", "unknown option"},
        {"-o", 2, "", "needs a value"},
        {"-o '" + dir.path() + "/out' '" + SAMPLES_DIR + "'", 0, "out/noise_uint16_1020x1x5.fit",
         "6 of 6"},
        {"-o '" + dir.path() + "/out' --header '" + dir.path() + "/custom.txt' '" + spe + "'", 0,
         "out/hene_int32_1340x1.fit", "1 of 1"},
        {"-o '" + dir.path() + "/out2' '" + dir.path() + "/bad.spe' '" + spe + "'", 1,
         "out2/hene_int32_1340x1.fit", "bad.spe: not an SPE file"},
        {"--save-header '" + dir.path() + "/h.fits'", 0, "h.fits", ""},
        {"--header '" + dir.path() + "/custom.txt' --save-header '" + dir.path() + "/h.txt'", 0,
         "h.txt", ""},
        {"--header '" + dir.path() + "/none.txt' x.spe", 2, "", "no such header file"},
        {"-o '" + dir.path() + "/nowhere' x.spe", 2, "", "no such folder"},
        {"--metadata --header '" + dir.path() + "/custom.txt' x.spe", 2, "",
         "cannot be used with --header"},
        {"--bzero --metadata -o '" + dir.path() + "/out2' '" +
             Sample("polystyrene_uint16_1340x1.spe") + "'",
         0, "out2/polystyrene_uint16_1340x1.fit", "1 of 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string log = dir / "log.txt";
        EXPECT_EQ(RunCli(c.args, log), c.status) << ReadAll(log);
        if (!c.made.empty()) {
            EXPECT_TRUE(std::filesystem::exists(dir / c.made));
        }
        EXPECT_NE(ReadAll(log).find(c.log_holds), std::string::npos) << ReadAll(log);
    }
    // The Custom header wrote 4 samples of 16 bits per frame: header block + one data block.
    EXPECT_EQ(std::filesystem::file_size(dir / "out/hene_int32_1340x1.fit"), 5760u);
    EXPECT_EQ(std::filesystem::file_size(dir / "h.fits"), 2880u);
    EXPECT_EQ(ReadAll(dir / "h.txt"), ReadAll(dir / "custom.txt"));
}

}  // namespace
