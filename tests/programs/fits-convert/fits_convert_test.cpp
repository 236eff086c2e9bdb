// fits-convert driven as a user drives it: arguments in, files and exit status out.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "../../orlix/test_support.h"
#include "orlix/spe_file.h"

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
    std::ofstream(dir / "c8.txt")
        << "SIMPLE  = T\nBITPIX  = 8\nNAXIS   = 3\nNAXIS1  = 30\nNAXIS2  = 20\nNAXIS3  = 2\n";
    std::filesystem::create_directories(dir / "nospe/deep");  // a tree without SPE files
    const std::string spe = Sample("hene_int32_1340x1.spe"), d = dir.path();
    const struct {
        std::string args;
        int status;
        std::string made;  // a file that must exist afterwards ("" for none)
        std::string log_holds;
        std::string log_lacks = {};
    } cases[] = {
        {"--help", 0, "", "-q, --quiet            no progress bar and no summary line; failures"},
        // Bad usage: one line and the way to the help, as neighbouring tools answer.
        {"", 2, "", "no SPE file or folder given; see fits-convert --help", "Usage"},
        {"--frobnicate x", 2, "", "fits-convert: unknown option '--frobnicate'; see", "Usage"},
        {"-j x " + spe, 2, "", "-j: 'x' is not a number of jobs; see fits-convert --help", "Usage"},
        {"-o", 2, "", "needs a value; see fits-convert --help", "Usage"},
        // An empty tree is nothing to convert, no failure.
        {"-r --update '" + d + "/nospe'", 0, "", "nothing to convert", "0 of 0"},
        {"-r '" + d + "/nospe'", 0, "", "nothing to convert", "failed"},
        // Warnings name the SPE file they are about, as failure lines do.
        {"--header '" + d + "/c8.txt' -o '" + d + "/out2' '" + Sample("image_uint16_30x20x2.spe") +
             "'",
         0, "out2/image_uint16_30x20x2.fit", "image_uint16_30x20x2.spe -> "},
        // Compressed files are NAME.fit.fz: --update and the side-output checks know the name.
        {"--compress -o '" + d + "/z' '" + spe + "'", 0, "z/hene_int32_1340x1.fit.fz", "1 of 1"},
        {"--update -o '" + d + "/z' '" + spe + "'", 0, "z/hene_int32_1340x1.fit", "1 of 1"},
        {"--compress --update -o '" + d + "/z' '" + spe + "'", 0, "",
         "0 of 1 file(s) converted, 1 up"},
        {"--compress --report '" + d + "/z/hene_int32_1340x1.fit.fz' -o '" + d + "/z' '" + spe +
             "'",
         2, "", "not written as the report"},
        {"-o '" + dir.path() + "/out' '" + SAMPLES_DIR + "'", 0, "out/noise_uint16_1020x1x5.fit",
         "6 of 6"},
        {"-o '" + dir.path() + "/out' --header '" + dir.path() + "/custom.txt' '" + spe + "'", 0,
         "out/hene_int32_1340x1.fit", "1 of 1"},
        {"-o '" + dir.path() + "/out2' '" + dir.path() + "/bad.spe' '" + spe + "'", 1,
         "out2/hene_int32_1340x1.fit", "bad.spe: not an SPE file"},
        {"--save-header '" + dir.path() + "/h.fits'", 0, "h.fits", "header saved to", "0 of 0"},
        {"--header '" + dir.path() + "/custom.txt' --save-header '" + dir.path() + "/h.txt'", 0,
         "h.txt", ""},
        {"--header '" + dir.path() + "/none.txt' x.spe", 2, "",
         "none.txt: cannot open: No such file or directory"},
        // -o makes its folder (as mkdir -p), but never replaces what is not one.
        {"-o '" + dir.path() + "/nowhere/deeper' '" + spe + "'", 0,
         "nowhere/deeper/hene_int32_1340x1.fit", "1 of 1"},
        {"-o '" + dir.path() + "/c8.txt' '" + spe + "'", 2, "", "c8.txt: not a folder"},
        {"-o /proc/fits-out '" + spe + "'", 1, "", "cannot make the output folder"},
        // "--" ends the options: what follows is a file name.
        {"-- --metadata", 1, "", "--metadata: cannot open"},
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
        if (!c.log_lacks.empty()) {
            EXPECT_EQ(ReadAll(log).find(c.log_lacks), std::string::npos) << ReadAll(log);
        }
    }
    // The Custom header wrote 4 samples of 16 bits per frame: header block + one data block.
    EXPECT_EQ(std::filesystem::file_size(dir / "out/hene_int32_1340x1.fit"), 5760u);
    EXPECT_EQ(std::filesystem::file_size(dir / "h.fits"), 2880u);
    // The text header comes back in FITS card form: mandatory values end in column 30.
    EXPECT_EQ(ReadAll(dir / "h.txt"),
              "SIMPLE  =                    T\r\nBITPIX  =                   16\r\n"
              "NAXIS   =                    1\r\nNAXIS1  =                    4\r\n");
}

std::string Q(const std::string& path) {
    return "'" + path + "'";
}

// On a terminal (script gives one) the bar counts bytes as they are written: it moves within
// one big file, and within the first file of a batch rather than jumping to 50 % at its end.
TEST(FitsConvert, ProgressMovesWithinFiles) {
    TempDir dir;
    const std::string a = dir / "a.spe", b = dir / "b.spe", log = dir / "log.txt";
    for (const std::string& name : {a, b})  // 12 MiB each: written in several pieces
        ASSERT_TRUE(orlix::SpeFile::Create(name, 1024, 1024, 6, orlix::kSpeInt16));
    const struct {
        std::string inputs;
        int share;  // each file's share, in percent: some percentage shown is no multiple of it
    } cases[] = {{Q(a), 100}, {Q(a) + " " + Q(b), 50}};
    for (const auto& c : cases) {
        const std::string line = "script -qec \"" + std::string(FITS_CONVERT) + " " + c.inputs +
                                 "\" /dev/null > " + Q(log);
        ASSERT_EQ(std::system(line.c_str()), 0) << ReadAll(log);
        int within = 0;
        for (std::size_t at = 0; (at = ReadAll(log).find("] ", at + 1)) != std::string::npos;)
            within += std::atoi(ReadAll(log).c_str() + at + 2) % c.share > 0;
        EXPECT_GT(within, 0) << c.inputs << ReadAll(log);
    }
}

// An SPE 2.x file of 2 x 2 samples, one frame, of the given datatype (zero samples unless
// given).
void WriteSpe2(const std::string& path, std::int16_t datatype,
               const std::string& samples = std::string(32, '\0')) {
    std::string header(4100, '\0');
    const std::uint16_t two = 2;
    const std::int32_t one = 1;
    const std::uint32_t identity = 0x01234567;
    std::memcpy(header.data() + 42, &two, 2);
    std::memcpy(header.data() + 656, &two, 2);
    std::memcpy(header.data() + 108, &datatype, 2);
    std::memcpy(header.data() + 1446, &one, 4);
    std::memcpy(header.data() + 2996, &identity, 4);
    std::ofstream(path, std::ios::binary) << header << samples;
}

std::string FitsCard(const std::string& text) {
    std::string card = text;
    card.resize(80, ' ');
    return card;
}

// Runs in a folder laid out for the cases below; each row is a kind of hostile input.
struct EdgeCase {
    std::string args;
    int status;
    std::vector<std::string> log_holds;
    std::vector<std::string> made;  // files that must exist afterwards
    bool as_nobody = false;         // run as a user who may not read walk/b
};

// Nothing lost, nothing falsely reported: an output never replaces an input or an earlier
// output, every file that yields nothing has a reason and exit status 1, file-system errors
// are one line each and the batch goes on.
TEST(FitsConvert, EdgeCasesLoseNothingAndReportEverything) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string spe = Sample("hene_int32_1340x1.spe");
    const std::string d = dir.path();
    for (const char* sub : {"a", "b", "c", "my.data", "out", "loop", "lf"})
        fs::create_directory(dir / sub);
    fs::copy_file(spe, dir / "a/x.spe");
    fs::copy_file(spe, dir / "b/x.spe");
    fs::copy_file(spe, dir / "c/y.spe");
    fs::copy_file(spe, dir / "c/y.SPE");
    fs::create_directory_symlink("c", dir / "clink");  // c/y.spe reached by a second name
    fs::copy_file(spe, dir / "data.fit");
    fs::copy_file(spe, dir / "my.data/run");
    fs::copy_file(spe, dir / "loop/good.spe");
    fs::create_symlink("self.spe", dir / "loop/self.spe");
    fs::copy_file(spe, dir / "lf/z.spe");
    std::ofstream(dir / "lf.txt") << "OBSERVER= 'me'\nTELESCOP= 'big'\n";
    std::ofstream(dir / "cr.txt") << "OBSERVER= 'me'\rTELESCOP= 'big'\r";
    std::ofstream(dir / "tab.txt") << "OBSERVER= 'me'\tx\n";
    std::ofstream(dir / "empty.txt") << "";
    std::ofstream(dir / "bitpix64.txt") << "SIMPLE  = T\nBITPIX  = 64\nNAXIS   = 1\nNAXIS1  = 4\n";
    std::ofstream(dir / "naxis3.txt")
        << "SIMPLE  = T\nBITPIX  = 16\nNAXIS   = 3\nNAXIS1  = 4\nNAXIS2  = 1\nNAXIS3  = 0\n";
    std::ofstream(dir / "out/x.fit") << "keep";
    for (const char* sub : {"end", "o2", "n4"})
        fs::create_directory(dir / sub);
    fs::copy_file(spe, dir / "end/ok.spe");
    std::ofstream(dir / "end.txt") << "OBSERVER= 'Ann'\nEND\nJUNK    = 1\n";
    ASSERT_TRUE(orlix::SpeFile::Create(d + "/n4/f.spe", 16, 4, 5, orlix::kSpeUInt16));
    std::ofstream(dir / "naxis4.txt") << "SIMPLE  = T\nBITPIX  = 16\nNAXIS   = 4\nNAXIS1  = 16\n"
                                         "NAXIS2  = 4\nNAXIS3  = 5\nNAXIS4  = 3\n";
    WriteSpe2(d + "/o2/dtype5.spe", orlix::kSpeFloat64);
    WriteSpe2(d + "/o2/dtype8.spe", orlix::kSpeUInt32);
    std::ofstream(dir / "u32.txt")
        << "SIMPLE  = T\nBITPIX  = 32\nNAXIS   = 2\nNAXIS1  = 2\nNAXIS2  = 2\n";
    std::ofstream(dir / "lower.txt") << "obsrv   = 1\n";
    std::ofstream(dir / "repeat.fit") << FitsCard("SIMPLE  = T") + FitsCard("EXPTIME = 9.") +
                                             FitsCard("OBJECT  = 'M1'") + FitsCard("END") +
                                             std::string(2880 - 320, ' ');
    fs::create_directory(dir / "rp");
    fs::copy_file(spe, dir / "rp/a.spe");
    fs::copy_file(spe, dir / "rp/b.spe");
    std::ofstream(dir / "rp/site.txt") << "OBSERVER= 'Ann'\n";
    std::ofstream(dir / "rp/temp.txt") << "OBSERVER= 'Ann'\nTEMPERATURE = -60.5\n";
    const std::string rp = d + "/rp/";
    const std::string long_name(300, 'L');
    const std::string a = Q(rp + "a.spe"), b = Q(rp + "b.spe"), site = Q(rp + "site.txt");
    chmod(d.c_str(), 0777);
    for (const char* sub : {"walk/a", "walk/b", "walk/c/deep"}) {
        fs::create_directories(dir / sub);
        fs::copy_file(spe, d + "/" + sub + "/x.spe");
    }
    chmod((d + "/walk/b").c_str(), 0);
    const EdgeCase cases[] = {
        // The report and the saved header follow the rule FITS targets follow: never an input,
        // a header source, an output of the run, each other, or no name at all.
        {"--report " + a + " " + a + " " + b,
         2,
         {"not written as the report", "command reads"},
         {}},
        {"-r --report " + Q(rp + "sub/../a.spe") + " " + Q(d + "/rp"),
         2,
         {"this command reads"},
         {}},
        {"--update --report " + Q(rp + "b.fit") + " " + b,
         2,
         {"b.fit: not written as the rep"},
         {}},
        {"--report '' " + a, 2, {"the report has an empty file name"}, {}},
        {"--report " + site + " --add-header " + site + " " + a, 2, {"site.txt: not written"}, {}},
        {"--save-header " + a + " " + a, 2, {"not written as the saved header"}, {}},
        {"--save-header " + Q(rp + "a.fit") + " " + a, 2, {"this command writes"}, {}},
        {"--report " + Q(rp + "x") + " --save-header " + Q(rp + "x") + " " + a,
         2,
         {"x: not wr"},
         {}},
        // Nor an existing file of another kind (a data file one letter away from the name
        // meant); an earlier report or header is replaced (below: each row twice).
        {"--report " + b + " " + a,
         2,
         {"b.spe: not written as the report: it exists and is no"},
         {}},
        {"--save-header " + b + " " + a, 2, {"b.spe: not written as the saved header: it ex"}, {}},
        // A header that stops the run still gives the report its row for every input.
        {"--add-header " + Q(d + "/none.txt") + " --report " + Q(rp + "r.csv") + " " + a,
         1,
         {"0 of 1"},
         {"rp/r.csv"}},
        {"--add-header " + Q(d + "/none.txt") + " --report " + Q(rp + "r.csv") + " " + a,
         1,
         {"0 of 1"},
         {"rp/r.csv"}},
        // A keyword longer than 8 characters would lose its value: refused with its line.
        {"--add-header " + Q(rp + "temp.txt") + " " + b,
         1,
         {"temp.txt: line 2 has the keyword \"TEMPERATURE\" of 11 characters", "0 of 1"},
         {}},
        // A folder the user may not read is one failure, named and in the report; the walk
        // converts every other folder.
        {"-r --report " + Q(d + "/walk.csv") + " -o " + Q(d + "/wo") + " " + Q(d + "/walk"),
         1,
         {"walk/b: cannot read the folder: Permission denied", "2 of 2 file(s) converted; 1 f"},
         {"wo/a/x.fit", "wo/c/deep/x.fit"},
         true},
        // An SPE file named .fit is an input: its conversion must not replace it.
        {Q(d + "/data.fit"), 1, {"data.fit: not converted", "is an input"}, {}},
        // Two inputs, one output: the later fails, the earlier stays.
        {"-o " + Q(d + "/out") + " " + Q(d + "/a/x.spe") + " " + Q(d + "/b/x.spe"),
         1,
         {"b/x.spe: not converted", "already written from", "1 of 2"},
         {"out/x.fit"}},
        {Q(d + "/c/y.spe") + " " + Q(d + "/c/y.SPE"),
         1,
         {"y.SPE: not converted", "1 of 2"},
         {"c/y.fit"}},
        // One input reached by two names: its FITS file is written once.
        {Q(d + "/c/y.spe") + " " + Q(d + "/clink/y.spe"),
         1,
         {"clink/y.spe: not converted", "was already written in this run", "1 of 2"},
         {"c/y.fit"}},
        // Only the file name's extension counts.
        {Q(d + "/my.data/run"), 0, {"1 of 1"}, {"my.data/run.fit"}},
        // A self-looping link in a folder is one line; the batch goes on.
        {Q(d + "/loop"), 1, {"self.spe: ", "1 of 1"}, {"loop/good.fit"}},
        {"-o " + Q(d + "/" + long_name) + " " + Q(spe),
         1,
         {"File name too long", "nothing converted"},
         {}},
        {"--add-header " + Q(d + "/" + long_name) + " " + Q(spe),
         1,
         {"File name too long", "0 of 1"},
         {}},
        {"--add-header " + Q(d + "/none.txt") + " " + Q(d + "/lf/z.spe"),
         1,
         {"none.txt: cannot open: No such file", "0 of 1"},
         {}},
        // Header text files: LF and CR line ends are lines; what a header cannot hold fails.
        {"-o " + Q(d + "/lf") + " --add-header " + Q(d + "/lf.txt") + " " + Q(d + "/lf/z.spe"),
         0,
         {"1 of 1"},
         {"lf/z.fit"}},
        {"--add-header " + Q(d + "/tab.txt") + " " + Q(spe), 1, {"tab.txt: line 1", "0 of 1"}, {}},
        {"--header " + Q(d + "/cr.txt") + " --save-header " + Q(d + "/cr.hdr"), 0, {}, {"cr.hdr"}},
        {"--header " + Q(d + "/cr.txt") + " --save-header " + Q(d + "/cr.hdr"), 0, {}, {"cr.hdr"}},
        // Headers that write nothing say so and exit 1.
        {"-o " + Q(d + "/out") + " --header " + Q(d + "/bitpix64.txt") + " " + Q(d + "/a/x.spe"),
         1,
         {"BITPIX 64 is not supported", "0 of 1"},
         {}},
        {"-o " + Q(d + "/out") + " --header " + Q(d + "/naxis3.txt") + " " + Q(spe),
         1,
         {"NAXIS3 is 0", "0 of 1"},
         {}},
        {"-o " + Q(d + "/out") + " --header " + Q(d + "/empty.txt") + " " + Q(spe),
         2,
         {"header is empty", "no file converted"},
         {}},
        // A name with a control character is shown escaped, on one line.
        {Q(d + "/bad\nname.spe"), 1, {"bad\\x0Aname.spe: cannot open: No such file"}, {}},
        {"--version", 0, {"fits-convert "}, {}},
        // A text header ends at END; lines behind it are named, not written.
        {"--add-header " + Q(d + "/end.txt") + " " + Q(d + "/end/ok.spe"),
         0,
         {"end.txt: line 2 is END", "1 of 1"},
         {"end/ok.fit"}},
        {"--add-header " + Q(d + "/end.txt") + " --save-header " + Q(d + "/end/h.txt"),
         0,
         {"end.txt: line 2 is END"},
         {"end/h.txt"}},
        // Every axis from the third on counts frames: 5 x 3 asked of a file holding 5.
        {"--header " + Q(d + "/naxis4.txt") + " " + Q(d + "/n4/f.spe"),
         1,
         {"asks for 15 frames, the data file holds 5", "0 of 1"},
         {}},
        {"--add-header " + Q(d + "/lf.txt") + " --header " + Q(d + "/cr.txt") + " " + Q(spe),
         2,
         {"--add-header", "cannot be used with --header"},
         {}},
        // Samples without a FITS type: the data file and its type are named.
        {"-o " + Q(d + "/o2") + " " + Q(d + "/o2/dtype5.spe") + " " + Q(d + "/o2/dtype8.spe"),
         1,
         {"dtype5.spe: data type 5 (64-bit float) is not supported",
          "dtype8.spe: data type 8 (unsigned 32-bit) is not supported without --bzero", "0 of 2"},
         {}},
        // A Custom header writes unsigned 32-bit data only in the form that keeps them.
        {"--header " + Q(d + "/u32.txt") + " -o " + Q(d + "/end") + " " + Q(d + "/o2/dtype8.spe"),
         1,
         {"dtype8.fit: unsigned 32-bit data are written only as BITPIX 32 with BZERO 2147483648",
          "0 of 1"},
         {}},
        {"--add-header " + Q(d + "/lower.txt") + " " + Q(spe),
         1,
         {"lower.txt: line 1 has the keyword \"obsrv\"", "0 of 1"},
         {}},
        // A whole FITS file's header does not repeat a keyword the Standard header has.
        {"-o " + Q(d + "/end") + " --add-header " + Q(d + "/repeat.fit") + " " + Q(spe),
         0,
         {"repeat.fit: left out SIMPLE (cards the converter writes itself); EXPTIME (keywords the "
          "header already holds)",
          "1 of 1"},
         {"end/hene_int32_1340x1.fit"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string log = dir / "log.txt";
        fs::remove(log);  // a file the other user may make
        if (c.as_nobody)
            EXPECT_TRUE(testing_support::InChildAsUser([&] {
                return RunCli(c.args, log) == c.status;
            })) << ReadAll(log);
        else
            EXPECT_EQ(RunCli(c.args, log), c.status) << ReadAll(log);
        for (const std::string& text : c.log_holds)
            EXPECT_NE(ReadAll(log).find(text), std::string::npos) << text << "\n" << ReadAll(log);
        for (const std::string& made : c.made)
            EXPECT_TRUE(fs::exists(dir / made)) << made;
    }
    // Inputs and files a refused run would have replaced are untouched.
    EXPECT_EQ(ReadAll(dir / "data.fit"), ReadAll(spe));
    EXPECT_EQ(ReadAll(dir / "rp/a.spe"), ReadAll(spe));
    EXPECT_EQ(ReadAll(dir / "rp/site.txt"), "OBSERVER= 'Ann'\n");
    EXPECT_FALSE(fs::exists(dir / "rp/b.fit"));
    EXPECT_FALSE(fs::exists(dir / "rp/x"));
    EXPECT_NE(ReadAll(dir / "rp/r.csv").find(rp + "a.spe," + rp + "a.fit,failed,"),
              std::string::npos)
        << ReadAll(dir / "rp/r.csv");
    chmod((d + "/walk/b").c_str(), 0755);
    EXPECT_NE(ReadAll(d + "/walk.csv").find(d + "/walk/b,,failed,"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "out/x.fit").substr(0, 6), "SIMPLE");
    EXPECT_FALSE(fs::exists(dir / "my.fit"));
    EXPECT_FALSE(fs::exists(dir / "z.fit"));
    // LF line ends gave two cards, not one card holding LF bytes.
    const std::string lf = ReadAll(dir / "lf/z.fit");
    EXPECT_EQ(lf.substr(0, 2880).find('\n'), std::string::npos);
    EXPECT_NE(lf.find("TELESCOP= 'big'"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "cr.hdr"), "OBSERVER= 'me'\r\nTELESCOP= 'big'\r\n");
    const std::string ended = ReadAll(dir / "end/ok.fit").substr(0, 2880);
    EXPECT_NE(ended.find("OBSERVER= 'Ann'"), std::string::npos);
    EXPECT_EQ(ended.find("JUNK"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "o2/dtype5.fit"));
    const std::string repeated = ReadAll(dir / "end/hene_int32_1340x1.fit").substr(0, 2880);
    EXPECT_EQ(repeated.find("EXPTIME = 9."), std::string::npos);
    EXPECT_NE(repeated.find("OBJECT  = 'M1'"), std::string::npos);
}

// Runs a bash command line (for pipes and redirections) with fits-convert as $FC; its exit
// status.
int RunBash(const std::string& line, const std::string& log) {
    const std::string command = "FC='" + std::string(FITS_CONVERT) + "' timeout 20 bash -c " +
                                Q(line) + " > '" + log + "' 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool FitsverifyPasses(const std::string& path) {
    const std::string command =
        "fitsverify " + Q(path) + " | grep -q 'found 0 warning(s) and 0 error(s)'";
    return std::system(command.c_str()) == 0;
}

// A header the user supplies is written only when FITS readers open the result: every fault
// is refused with the file and the line, nothing is written and the old target stays; where
// the intent is plain the file is written valid and the change is said. Header sources are
// read once (pipes work), replaced files keep their permissions, a lost summary fails.
TEST(FitsConvert, SuppliedHeadersGiveFilesReadersOpen) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string d = dir.path();
    fs::copy_file(Sample("image_uint16_30x20x2.spe"), dir / "im.spe");
    const std::string start =
        "SIMPLE  = T\nBITPIX  = 32\nNAXIS   = 3\nNAXIS1  = 30\nNAXIS2  = 20\nNAXIS3  = 2\n";
    std::ofstream(dir / "site.txt") << "OBSERVER= 'Ann'\nTELESCOP= 'big'\n";
    std::ofstream(dir / "broken.txt") << "OBSERVER= 'Ann\nRA      = NAN\nTELESCOP= 'big'\n";
    std::ofstream(dir / "cut.fit")
        << FitsCard("SIMPLE  =                    T") << FitsCard("BITPIX  =                   16");
    std::string tmpl;
    for (const char* card :
         {"SIMPLE  =                    T", "BITPIX  =                   32",
          "NAXIS   =                    3", "NAXIS1  =                   30",
          "NAXIS2  =                   20", "NAXIS3  =                    2", "END"})
        tmpl += FitsCard(card);
    tmpl.resize(2880, ' ');
    std::ofstream(dir / "tmpl.fit") << tmpl;
    const struct {
        std::string header;  // a Custom header's text ("" for the rows that give their own line)
        std::string line;    // the command line, $FC standing for fits-convert
        int status;
        std::string said;
        bool written;
    } cases[] = {
        {"OBSERVER= 'me'\n" + start, "", 2, "line 1 (OBSERVER) stands where FITS requires SIMPLE",
         false},
        {"SIMPLE  = T\nBITPIX  = 32\nNAXIS   = 3\nNAXIS1  = 30\nNAXIS2  = 20\nOBSERVER= 'me'\n"
         "NAXIS3  = 2\n",
         "", 2, "line 6 (OBSERVER) stands where FITS requires NAXIS3", false},
        {"XTENSION= 'IMAGE'\n" + start.substr(12), "", 2,
         "line 1 (XTENSION) begins an extension header", false},
        {"SIMPLE  = T\nBITPIX  = 16.0\nNAXIS   = 1\nNAXIS1  = 30\n", "", 2,
         "line 2 (BITPIX) must have a whole number", false},
        {"SIMPLE  = T\nBITPIX  = 16\nNAXIS   = 1\nNAXIS1  = 1e3\n", "", 2,
         "line 4 (NAXIS1) has the value 1e3, whose exponent FITS writes with a capital E", false},
        {"SIMPLE  = T\nBITPIX  = 16\nNAXIS   = 1\nNAXIS1  = 30.5\n", "", 2,
         "line 4 (NAXIS1) must have a whole number", false},
        {start + "BITPIX  = 16\n", "", 2, "line 7 (BITPIX) BITPIX already stands at line 2", false},
        {start + "BZERO   = NAN\n", "", 2, "line 7 (BZERO) has the value \"NAN\"", false},
        {start + "OBJECT  = 'M31\n", "", 2,
         "line 7 (OBJECT) has a string value without its "
         "closing quote",
         false},
        {start + "EPOCH   = 2000.\n", "", 2, "line 7 (EPOCH) is EPOCH", false},
        {start + "DATE-OBS= '10000-01-01'\n", "", 2, "line 7 (DATE-OBS) must have a date", false},
        {start + "END\nJUNK    = 1\n", "", 0, "custom.txt: line 7 is END", true},
        // Free spacing, as people type headers, is put in card form: the file is valid.
        {start + "OBJECT = 'M31'\n", "", 0, "1 of 1", true},
        // Blanks after a card are no part of it; a comment beyond column 80 is cut, and said.
        {start + "OBSERVER= 'me'" + std::string(70, ' ') + "\n", "", 0, "1 of 1", true},
        {start + "OBJECT  = 'M31' / " + std::string(80, 'c') + "\n", "", 0,
         "header line 7 (OBJECT) is cut at column 80", true},
        // A FITS header through a pipe is told by its first card, not by a name.
        {"",
         "$FC --header <(cat " + Q(d + "/tmpl.fit") + ") -o " + Q(d + "/out") + " " +
             Q(d + "/im.spe"),
         0, "1 of 1", true},
        // A FITS header file cut short is no header.
        {"", "$FC --header " + Q(d + "/cut.fit") + " -o " + Q(d + "/out") + " " + Q(d + "/im.spe"),
         2, "cut.fit: the header ends after 2 cards without an END card", false},
        // Header sources read once: process substitution, standard input, a named FIFO.
        {"",
         "$FC --add-header <(cat " + Q(d + "/site.txt") + ") -o " + Q(d + "/out") + " " +
             Q(d + "/im.spe"),
         0, "1 of 1", true},
        {"",
         "$FC --add-header /dev/stdin -o " + Q(d + "/out") + " " + Q(d + "/im.spe") + " < " +
             Q(d + "/site.txt"),
         0, "1 of 1", true},
        {"",
         "rm -f " + Q(d + "/fifo") + "; mkfifo " + Q(d + "/fifo") + "; (cat " + Q(d + "/site.txt") +
             " > " + Q(d + "/fifo") + " &); $FC --add-header " + Q(d + "/fifo") + " -o " +
             Q(d + "/out") + " " + Q(d + "/im.spe"),
         0, "1 of 1", true},
        // Appended cards readers would refuse are left out, with the reason.
        {"",
         "$FC --add-header " + Q(d + "/broken.txt") + " -o " + Q(d + "/out") + " " +
             Q(d + "/im.spe"),
         0, "left out OBSERVER (has a string value without its closing quote), RA (", true},
        // The summary is part of the result: lost, the run fails.
        {"", "$FC -o " + Q(d + "/out") + " " + Q(d + "/im.spe") + " > /dev/full", 1,
         "cannot write to standard output", true},
    };
    fs::create_directory(dir / "out");
    const std::string target = d + "/out/im.fit", log = d + "/log.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header + c.line);
        std::ofstream(target) << "keep";
        chmod(target.c_str(), 0600);
        std::string line = c.line;
        if (line.empty()) {
            std::ofstream(dir / "custom.txt") << c.header;
            line = "$FC --header " + Q(d + "/custom.txt") + " -o " + Q(d + "/out") + " " +
                   Q(d + "/im.spe");
        }
        EXPECT_EQ(RunBash(line, log), c.status) << ReadAll(log);
        EXPECT_NE(ReadAll(log).find(c.said), std::string::npos) << ReadAll(log);
        if (!c.written) {
            EXPECT_EQ(ReadAll(target), "keep");
            continue;
        }
        EXPECT_TRUE(FitsverifyPasses(target)) << ReadAll(target).substr(0, 800);
        struct stat st {};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);  // a private file stays private
        if (c.line.find("site.txt") != std::string::npos) {
            EXPECT_NE(ReadAll(target).find("TELESCOP= 'big'"), std::string::npos);
        }
    }
}

// Samples of a FITS file's primary image (or its first compressed image) as CFITSIO reads
// them, as doubles; empty when it cannot be read.
std::vector<double> CfitsioSamples(const std::string& path) {
    int status = 0, hdus = 0;
    fitsfile* f = nullptr;
    if (fits_open_diskfile(&f, path.c_str(), READONLY, &status) != 0) return {};
    fits_get_num_hdus(f, &hdus, &status);
    int naxis = 0;
    fits_get_img_dim(f, &naxis, &status);
    if (naxis == 0 && hdus > 1) fits_movabs_hdu(f, 2, nullptr, &status);  // the compressed one
    long axes[3] = {1, 1, 1};
    fits_get_img_size(f, 3, axes, &status);
    std::vector<double> values(static_cast<std::size_t>(axes[0] * axes[1] * axes[2]));
    int any = 0;
    fits_read_img(f, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), nullptr, values.data(), &any,
                  &status);
    fits_close_file(f, &status);
    return status == 0 ? values : std::vector<double>{};
}

struct timespec ModifiedTime(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mtim;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A FITS file records the options it was written with; --update converts again a file
// written with other ones (no record: none), and --metadata says when, by what and from what.
TEST(FitsConvert, UpdateFollowsTheRecordedOptions) {
    TempDir dir;
    const std::string spe = dir / "p.spe", fit = dir / "p.fit", log = dir / "log.txt";
    std::filesystem::copy_file(Sample("polystyrene_uint16_1340x1.spe"), spe);
    const struct {
        std::string first, then;
        const char* said;  // what the --update run reports
    } cases[] = {
        {"", "--metadata", "1 of 1 file(s) converted, 0 up to date"},
        {"--metadata", "--metadata", "0 of 1 file(s) converted, 1 up to date"},
        {"--metadata --bzero", "--bzero", "1 of 1 file(s) converted, 0 up to date"},
        {"--bzero", "--bzero", "0 of 1 file(s) converted, 1 up to date"},
        {"", "", "0 of 1 file(s) converted, 1 up to date"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first + " then " + c.then);
        std::filesystem::remove(fit);
        ASSERT_EQ(RunCli(c.first + " '" + spe + "'", log), 0) << ReadAll(log);
        ASSERT_EQ(RunCli("--update " + c.then + " '" + spe + "'", log), 0) << ReadAll(log);
        EXPECT_NE(ReadAll(log).find(c.said), std::string::npos) << ReadAll(log);
    }
    // The provenance of a --metadata run: DATE (UTC, to the second) and HISTORY.
    ASSERT_EQ(RunCli("--metadata '" + spe + "'", log), 0);
    const std::string header = ReadAll(fit).substr(0, 2880 * 2);
    for (const char* said : {"DATE    = '20", "HISTORY written by fits-convert ",
                             "HISTORY converted from p.spe", "HISTORY options: --metadata"})
        EXPECT_NE(header.find(said), std::string::npos) << said;
    // A header file edited since, or another one (even an older file), is a reason to convert
    // again; the same header, older than the FITS file, is not.
    namespace fs = std::filesystem;
    std::ofstream(dir / "site.txt") << "OBSERVER= 'me'\n";
    ASSERT_EQ(RunCli("--add-header '" + dir / "site.txt" + "' '" + spe + "'", log), 0);
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(spe, now - std::chrono::seconds(300));
    const struct {
        const char *option, *card;
        int header_age;
        const char* said;
    } headers[] = {{"--add-header", "OBSERVER= 'me'", 200, "0 of 1 file(s) converted, 1 up"},
                   {"--add-header", "OBSERVER= 'me'", 0, "1 of 1 file(s) converted"},
                   {"--add-header", "OBSERVER= 'you'", 200, "1 of 1 file(s) converted"},
                   {"--add-header", "OBSERVER= 'you'", 200, "0 of 1 file(s) converted, 1 up"},
                   {"--header", "SIMPLE = T\nBITPIX = 16\nNAXIS = 0\nOBSERVER= 'them'", 200,
                    "1 of 1 file(s) converted"},
                   {"--header", "SIMPLE = T\nBITPIX = 16\nNAXIS = 0\nOBSERVER= 'them'", 200,
                    "0 of 1 file(s) converted, 1 up"}};
    for (const auto& h : headers) {
        SCOPED_TRACE(std::string(h.option) + " " + h.card);
        std::ofstream(dir / "site.txt") << h.card << "\n";
        fs::last_write_time(fit, now - std::chrono::seconds(100));
        fs::last_write_time(dir / "site.txt", now - std::chrono::seconds(h.header_age));
        ASSERT_EQ(RunCli("--update " + std::string(h.option) + " '" + dir / "site.txt" + "' '" +
                             spe + "'",
                         log),
                  0)
            << ReadAll(log);
        EXPECT_NE(ReadAll(log).find(h.said), std::string::npos) << ReadAll(log);
    }
    // A cut-short file converts its whole frames; its report row says so, for a batch to see.
    ASSERT_TRUE(orlix::SpeFile::Create(dir / "cut.spe", 4, 2, 3, orlix::kSpeInt16));
    std::filesystem::resize_file(dir / "cut.spe", 4100 + 16 + 5);
    ASSERT_EQ(RunCli("--report '" + dir / "r.csv" + "' '" + dir / "cut.spe" + "'", log), 0);
    EXPECT_NE(ReadAll(dir / "r.csv")
                  .find("cut.spe: the file is shorter than its "
                        "header says: 1 of 3 frames present"),
              std::string::npos)
        << ReadAll(dir / "r.csv");
    // A name outside ASCII is told in a card's characters, not refused.
    std::filesystem::copy_file(spe, dir / "\xC3\xBC.spe");
    ASSERT_EQ(RunCli("--metadata '" + dir / "\xC3\xBC.spe" + "'", log), 0) << ReadAll(log);
    EXPECT_NE(ReadAll(dir / "\xC3\xBC.fit").find("HISTORY converted from \\xC3\\xBC.spe"),
              std::string::npos);
}

// A FITS file taken as a header brings its own cards, never the facts of the data file it
// was converted from: compressed or not, added to the Standard header or as the Custom one.
TEST(FitsConvert, TemplatesBringTheirOwnCardsOnly) {
    TempDir dir;
    const std::string d = dir.path(), log = d + "/log.txt";
    std::ofstream(d + "/site.txt") << "OBSERVER= 'me'\n";
    const std::string glue = Sample("glue_float32_4711x1_v25.spe");
    for (const char* packed : {"", "--compress"})
        ASSERT_EQ(RunCli("--metadata --add-header '" + d + "/site.txt' " + packed + " -o '" + d +
                             "' '" + glue + "'",
                         log),
                  0)
            << ReadAll(log);
    const struct {
        std::string args;
        const char* lacks;  // the template's wavelength axis and acquisition facts
    } cases[] = {
        {"--add-header '" + d + "/glue_float32_4711x1_v25.fit'", "CRVAL1  ="},
        {"--add-header '" + d + "/glue_float32_4711x1_v25.fit.fz'", "SET-TEMP="},
        {"--metadata --add-header '" + d + "/glue_float32_4711x1_v25.fit.fz'", "149.85"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string out = d + "/out.fit";
        ASSERT_EQ(
            RunCli(c.args + " -o '" + d + "/o' '" + Sample("polystyrene_uint16_1340x1.spe") + "'",
                   log),
            0)
            << ReadAll(log);
        const std::string header = ReadAll(d + "/o/polystyrene_uint16_1340x1.fit").substr(0, 5760);
        EXPECT_NE(header.find("OBSERVER= 'me'"), std::string::npos) << header;
        EXPECT_EQ(header.find(c.lacks), std::string::npos) << header;
        EXPECT_NE(ReadAll(log).find("facts of the data file it was converted from"),
                  std::string::npos)
            << ReadAll(log);
    }
}

// --metadata writes the data file's own facts only: each fact it drops or changes is a
// warning, no card is built on one it cannot read, and none of its own cards is cut.
TEST(FitsConvert, MetadataSaysWhatItDrops) {
    TempDir dir;
    const std::string hene = ReadAll(Sample("hene_int32_1340x1.spe"));
    auto patched = [&](const std::string& name, std::size_t at, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            << hene.substr(0, at) + bytes + hene.substr(at + bytes.size());
        return name;
    };
    const std::string stamp = "<TimeStamp bitDepth=\"64\" resolution=\"1000000\" event=\"Exposure";
    testing_support::WriteSpe3(
        dir / "stamps.spe",
        {{{4, 1}},
         2,
         "<DataHistory><Origin created=\"2021-05-06T07:08:05+02:00\"/></DataHistory><MetaFormat>"
         "<MetaBlock><FrameTrackingNumber bitDepth=\"64\"/>" +
             stamp + "Started\" absoluteTime=\"0000-01-01T00:30:00+01:00\"/>" + stamp +
             "Ended\" absoluteTime=\"2021-05-06T07:08:00Z\"/></MetaBlock></MetaFormat>",
         1000,
         500});
    testing_support::WriteSpe3(dir / "combined.spe",
                               {{{4, 1}},
                                1,
                                "<FrameCombination><FramesCombined>3</FramesCombined>"
                                "<Method>Average</Method></FrameCombination>"
                                "<Camera model=\"Caf\xC3\xA9\" serialNumber=\"7\"/>"});
    const struct {
        std::string file;
        const char* note;  // text the warning holds
        std::vector<const char*> lacks;
        const char* holds = "";  // in the FITS file
    } cases[] = {
        // clang-format off
        {"stamps.spe", "ExposureStarted counts from \"0000-01-01T00:30:00+01:00\"", {"'EXPSTART'"},
         "TICKZERO= '2021-05-06T07:08:00Z'"},
        {patched("date.spe", 20, "31Feb2015"), "date \"31Feb2015\" is no calendar", {"DATE-OBS="}},
        {patched("utc.spe", 179, "256199"), "UTC time \"256199\" is no time of day", {}},
        {patched("nan.spe", 3263, std::string("\0\0\0\0\0\0\xF8\x7F", 8)), "not a finite number",
         {"CTYPE1  ="}},
        {patched("roi.spe", 1512, std::string("\xD0\x07\x01\x00", 4)), "columns 2000-1 binned by 1",
         {"CTYPE1  =", "DETSEC  ="}},
        {patched("latin1.spe", 200, "caf\xE9"), "comment 1: characters outside printable", {}},
        {"combined.spe", "model \"Caf\\xC3\\xA9\" is written with ?", {}, "(average)"},
        // clang-format on
    };
    const std::string log = dir / "log.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(RunCli("--metadata " + Q(dir / c.file), log), 0) << ReadAll(log);
        EXPECT_NE(ReadAll(log).find(c.note), std::string::npos) << ReadAll(log);
        EXPECT_EQ(ReadAll(log).find("is cut at column"), std::string::npos) << ReadAll(log);
        const std::string fits = ReadAll(dir / (c.file.substr(0, c.file.size() - 4) + ".fit"));
        EXPECT_NE(fits.find(c.holds), std::string::npos) << c.holds;
        for (const char* card : c.lacks)
            EXPECT_EQ(fits.find(card), std::string::npos) << card;
    }
}

// An archive converted as a tree: mirrored under -o (any depth, odd names, links to folders not
// followed), again with --update (nothing rewritten; a touched file alone), in parallel (the
// same bytes as one at a time), with a CSV report, and tile-compressed (CFITSIO reads the same
// samples; fitsverify clean).
TEST(FitsConvert, ArchivesTreesUpdatesJobsReportsCompression) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string d = dir.path();
    const std::string in = d + "/in", in2 = d + "/in2";
    for (const char* sub : {"in/2020/pl/day1", "in/2021/deep/er/still", "in/odd, name", "in2/2021",
                            "in2/2021/deep/er/still"})
        fs::create_directories(dir / sub);
    const std::pair<const char*, const char*> files[] = {
        {"in/2020/pl/day1/run 7.spe", "image_uint16_30x20x2.spe"},
        {"in/2021/deep/er/still/a.spe", "hene_int32_1340x1.spe"},
        {"in/odd, name/\xC3\xBC \"q\".spe", "noise_uint16_1020x1x5.spe"},
        {"in/b.SPE", "glue_float32_4711x1_v25.spe"},
        {"in2/2021/deep/er/still/a.spe", "polystyrene_uint16_1340x1.spe"},
    };
    for (const auto& [to, from] : files)
        fs::copy_file(Sample(from), dir / to);
    std::ofstream(dir / "in/2020/bad.spe") << "not spe";
    fs::create_directory_symlink(in, dir / "in/2021/loop");  // not followed: no loop
    const std::string mirrored[] = {"2020/pl/day1/run 7.fit", "2021/deep/er/still/a.fit",
                                    "odd, name/\xC3\xBC \"q\".fit", "b.fit"};
    const std::string log = d + "/log.txt";
    struct Run {
        std::string args;
        int status;
        std::vector<std::string> log_holds;
    };
    // One at a time and two at a time: the same outcome, the same bytes.
    for (const char* jobs : {"1", "2"}) {
        const std::string out = d + "/out" + jobs;
        fs::create_directory(out);
        const Run runs[] = {
            {"-r -j " + std::string(jobs) + " --report " + Q(out + "/r.csv") + " -o " + Q(out) +
                 " " + Q(in) + " " + Q(in2),
             1,
             {"bad.spe: not an SPE file",
              "in2/2021/deep/er/still/a.spe: not converted: its FITS "
              "file",
              "already written from", "4 of 6 file(s) converted"}},
        };
        for (const Run& r : runs) {
            SCOPED_TRACE(r.args);
            EXPECT_EQ(RunCli(r.args, log), r.status) << ReadAll(log);
            for (const std::string& text : r.log_holds)
                EXPECT_NE(ReadAll(log).find(text), std::string::npos) << text << ReadAll(log);
        }
        for (const std::string& name : mirrored)
            EXPECT_TRUE(fs::exists(out + "/" + name)) << name;
        EXPECT_FALSE(fs::exists(out + "/2021/loop"));
        const std::string report = ReadAll(out + "/r.csv");
        EXPECT_EQ(report.rfind("input,output,outcome,reason,bytes\n", 0), 0u) << report;
        EXPECT_NE(report.find("/in/2020/bad.spe," + out + "/2020/bad.fit,failed,"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("\"" + in + "/odd, name/\xC3\xBC \"\"q\"\".spe\""), std::string::npos)
            << report;
        EXPECT_NE(report.find("run 7.fit,converted,,8640\n"), std::string::npos) << report;
    }
    for (const std::string& name : mirrored)
        EXPECT_EQ(ReadAll(d + "/out1/" + name), ReadAll(d + "/out2/" + name)) << name;

    // --update: nothing is rewritten; a touched SPE file is converted alone.
    const std::string out = d + "/out2";
    std::vector<struct timespec> before;
    for (const std::string& name : mirrored)
        before.push_back(ModifiedTime(out + "/" + name));
    const std::string update = "-r --update -j 2 -o " + Q(out) + " " + Q(in);
    EXPECT_EQ(RunCli(update, log), 1) << ReadAll(log);  // bad.spe still fails
    EXPECT_NE(ReadAll(log).find("0 of 5 file(s) converted, 4 up to date"), std::string::npos)
        << ReadAll(log);
    // An up-to-date file still claims its FITS file: the same one from another root fails.
    EXPECT_EQ(RunCli(update + " " + Q(in2), log), 1) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("in2/2021/deep/er/still/a.spe: not converted"), std::string::npos)
        << ReadAll(log);
    fs::last_write_time(dir / "in/b.SPE", fs::file_time_type::clock::now() + std::chrono::hours(1));
    EXPECT_EQ(RunCli(update + " --report " + Q(d + "/u.csv"), log), 1) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("1 of 5 file(s) converted, 3 up to date"), std::string::npos)
        << ReadAll(log);
    for (std::size_t i = 0; i < std::size(mirrored); ++i)
        EXPECT_EQ(SameTime(ModifiedTime(out + "/" + mirrored[i]), before[i]), i != 3)
            << mirrored[i];
    EXPECT_NE(ReadAll(d + "/u.csv").find("run 7.fit,up to date,,8640\n"), std::string::npos);

    // --compress: lossless, read by CFITSIO as the same samples, clean for fitsverify, smaller.
    fs::create_directory(dir / "packed");
    EXPECT_EQ(RunCli("-r --compress -o " + Q(d + "/packed") + " " + Q(in), log), 1) << ReadAll(log);
    for (const std::string& name : mirrored) {
        SCOPED_TRACE(name);
        const std::string packed = d + "/packed/" + name + ".fz", plain = out + "/" + name;
        const std::vector<double> samples = CfitsioSamples(packed);
        EXPECT_FALSE(samples.empty());
        EXPECT_EQ(samples, CfitsioSamples(plain));
        EXPECT_TRUE(FitsverifyPasses(packed));
        EXPECT_LE(fs::file_size(packed), fs::file_size(plain));
    }
    EXPECT_LT(fs::file_size(d + "/packed/odd, name/\xC3\xBC \"q\".fit.fz"),
              fs::file_size(out + "/odd, name/\xC3\xBC \"q\".fit") / 2);
    // astropy opens the compressed image as the same array (and its header as valid).
    // Floating-point samples keep their bits: infinities, NaN payloads, -0.0, denormals.
    const std::uint32_t special[] = {0xFF800000u, 0x7FC12345u, 0x80000000u, 0x00000001u};
    fs::create_directory(dir / "fl");
    WriteSpe2(d + "/fl/special.spe", orlix::kSpeFloat32,
              std::string(reinterpret_cast<const char*>(special), sizeof special));
    EXPECT_EQ(RunCli(Q(d + "/fl/special.spe"), log), 0) << ReadAll(log);
    EXPECT_EQ(RunCli("--compress -o " + Q(d + "/packed") + " " + Q(d + "/fl/special.spe"), log), 0)
        << ReadAll(log);
    const std::string astropy =
        "/usr/bin/python3 -c 'import sys, numpy as np; from astropy.io import fits\n"
        "for a, b in zip(sys.argv[1::2], sys.argv[2::2]):\n"
        "    p, q = fits.open(a), fits.open(b); p.verify(\"exception\")\n"
        "    same = p[1].data.astype(q[0].data.dtype).tobytes() == q[0].data.tobytes()\n"
        "    assert same and p[1].data.shape == q[0].data.shape, a' ";
    std::string args = Q(d + "/packed/special.fit.fz") + " " + Q(d + "/fl/special.fit") + " ";
    for (const std::string& name : mirrored)
        args += Q(d + "/packed/" + name + ".fz") + " " + Q(out + "/" + name) + " ";
    EXPECT_EQ(std::system((astropy + args + " > " + Q(log) + " 2>&1").c_str()), 0) << ReadAll(log);
    // Nothing but the FITS files is left in the folders written.
    for (const auto& entry : fs::recursive_directory_iterator(d + "/packed"))
        EXPECT_TRUE(entry.is_directory() || entry.path().extension() == ".fz") << entry.path();
}

// Starts fits-convert with `args`, where files cannot be made unnamed when `no_tmpfile` (its
// own /proc hidden); its pid.
pid_t Start(const std::string& args, bool no_tmpfile) {
    const std::string run = "exec " + Q(FITS_CONVERT) + args;
    const std::string line =
        no_tmpfile ? "exec unshare -m sh -c \"mount -t tmpfs none /proc && " + run + "\"" : run;
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The names of the hidden (temporary) files in `dir`, each followed by a space.
std::string Hidden(const std::string& dir) {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (const std::string name = entry.path().filename().string(); name[0] == '.')
            names += name + " ";
    return names;
}

// A signal at any moment of a run with many jobs (with compression too, and where files cannot
// be made without a name) leaves every FITS file absent, as it was, or complete, and no
// temporary file: none at all after Ctrl-C; after SIGKILL none that outlives the next run.
TEST(FitsConvert, InterruptedRunsLeaveNothingBehind) {
#if defined(__SANITIZE_ADDRESS__)
    // The moments are spread over a run's length; under the sanitizers a run is many times
    // slower and the table takes minutes. The normal build runs it.
    GTEST_SKIP() << "timed signal runs: the normal build runs them";
#endif
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string d = dir.path(), in = " " + Q(d + "/in");
    fs::create_directory(dir / "in");
    std::mt19937 random(7);
    std::string noise(512 * 256 * 2 * 2, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() % 7);
    constexpr int kFiles = 24;
    for (int k = 0; k < kFiles; ++k) {
        const std::string path = d + "/in/f" + std::to_string(k) + ".spe";
        ASSERT_TRUE(orlix::SpeFile::Create(path, 512, 256, 2, orlix::kSpeUInt16));
        std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(4100) << noise;
    }
    const struct {
        std::string options;
        int signal;
        bool no_tmpfile;  // needs root and unshare, to hide /proc/self/fd
    } cases[] = {{"-j 16", SIGINT, false},
                 {"-j 16 --compress", SIGINT, false},
                 {"-j 16 --compress", SIGKILL, false},
                 {"-j 16", SIGINT, true},
                 {"-j 16 --compress", SIGINT, true},
                 {"-j 16 --compress", SIGKILL, true}};
    for (const auto& c : cases) {
        if (c.no_tmpfile && (geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0))
            GTEST_SKIP() << "runs without O_TMPFILE need root and unshare (util-linux)";
        SCOPED_TRACE(c.options + " " + strsignal(c.signal) + (c.no_tmpfile ? " no O_TMPFILE" : ""));
        const std::string ref = d + "/ref", out = d + "/out", args = " -q " + c.options + " -o ";
        const std::string fit =
            c.options.find("--compress") != std::string::npos ? ".fit.fz" : ".fit";
        fs::remove_all(ref);
        fs::create_directory(ref);
        const auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(RunCli(args + Q(ref) + in, d + "/log"), 0);
        const auto took = std::chrono::steady_clock::now() - began;
        int written = 0, missing = 0;
        std::string left;  // over all moments: the runs were cut at work
        for (int moment = 1; moment <= 12; ++moment) {
            fs::remove_all(out);
            fs::create_directory(out);
            for (int k = 0; k < kFiles; k += 2)  // every other target exists before the run
                std::ofstream(out + "/f" + std::to_string(k) + fit) << "old";
            int status = 0;
            const pid_t pid = Start(args + Q(out) + in, c.no_tmpfile);
            std::this_thread::sleep_for(took * moment / 12);
            kill(pid, c.signal);
            waitpid(pid, &status, 0);
            for (int k = 1; k < kFiles; k += 2)
                missing += !fs::exists(out + "/f" + std::to_string(k) + fit);
            for (const auto& entry : fs::directory_iterator(out)) {
                const std::string name = entry.path().filename().string();
                const std::string now = ReadAll(entry.path().string());
                written += now == ReadAll(ref + "/" + name);
                EXPECT_TRUE(name[0] == '.' || now == "old" || now == ReadAll(ref + "/" + name))
                    << name << " at moment " << moment;
            }
            left += Hidden(out);
            if (c.signal != SIGKILL) continue;
            // The next run in the folder removes what the killed one left, and only that.
            std::ofstream(out + "/.f1.fit.tmp-00000000-1.abcdef") << "a live process's";
            waitpid(Start(args + Q(out) + in, c.no_tmpfile), &status, 0);
            EXPECT_EQ(status, 0);
            EXPECT_EQ(Hidden(out), ".f1.fit.tmp-00000000-1.abcdef ") << "at moment " << moment;
        }
        EXPECT_GT(written, 0);
        EXPECT_GT(missing, 0);
        // Unnamed files leave no name (but for a moment at each commit); Ctrl-C removes them.
        // Without O_TMPFILE, SIGKILL leaves names: the next run's clean-up above was tried.
        const auto n = std::count(left.begin(), left.end(), ' ');
        EXPECT_TRUE(c.signal == SIGKILL && c.no_tmpfile ? n > 0 : n <= (c.signal == SIGINT ? 0 : 4))
            << "left: " << left;
    }
}

}  // namespace
