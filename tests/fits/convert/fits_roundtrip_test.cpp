// Every sample SPE file converts with the Standard header; fitsverify passes the result and
// CFITSIO reads back exactly the source values.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "fits/convert/commands.h"
#include "fits/convert/fits_writer.h"
#include "orlix/application.h"
#include "orlix/spe_file.h"

namespace fits {
namespace {

using testing_support::Sample;
using testing_support::TempDir;

TEST(FitsRoundTrip, SamplesVerifyAndReadBackWithCfitsio) {
    TempDir dir;
    orlix::Application app;
    MemoryHeaderStore store;
    HeaderContext context{store, app};
    testing_fakes::RecordingReporter reporter;
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(SAMPLES_DIR))
        if (entry.path().extension() == ".spe") paths.push_back(entry.path().string());
    ASSERT_EQ(paths.size(), 6u);
    auto report = ConvertFiles(context, reporter, paths, {true, "", dir.path()});
    ASSERT_TRUE(report.ok()) << (report.failures.empty() ? "" : report.failures[0]);
    ASSERT_EQ(report.written.size(), 6u);
    EXPECT_TRUE(reporter.warnings.empty());

    for (const std::string& spe : paths) {
        SCOPED_TRACE(spe);
        std::string fits_path = FitsPathFor(spe, dir.path());
        std::string command =
            "fitsverify -q -e '" + fits_path + "' > '" + dir.path() + "/v.txt' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::string verify_cmd = "grep -q 'verification OK' '" + dir.path() + "/v.txt'";
        EXPECT_EQ(std::system(verify_cmd.c_str()), 0);
        std::string warn_cmd =
            "fitsverify '" + fits_path + "' | grep -q 'found 0 warning(s) and 0 error(s)'";
        EXPECT_EQ(std::system(warn_cmd.c_str()), 0);

        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(spe, 0, 0, 0, 0, "").ok());
        const std::int32_t code = *doc->GetParam(doc_param::kDataType).ToInt32();
        fitsfile* f = nullptr;
        int status = 0;
        ASSERT_EQ(fits_open_file(&f, fits_path.c_str(), READONLY, &status), 0);
        int bitpix = 0, naxis = 0;
        long naxes[3] = {};
        fits_get_img_param(f, 3, &bitpix, &naxis, naxes, &status);
        EXPECT_EQ(naxis, 3);
        EXPECT_EQ(bitpix, code == 3 ? FLOAT_IMG : LONG_IMG);
        const long n = naxes[0] * naxes[1];
        std::vector<double> values(static_cast<std::size_t>(n * naxes[2]));
        long first[3] = {1, 1, 1};
        fits_read_pix(f, TDOUBLE, first, n * naxes[2], nullptr, values.data(), nullptr, &status);
        ASSERT_EQ(status, 0);
        fits_close_file(f, &status);
        Frame frame;
        for (long k = 0; k < naxes[2]; ++k) {
            ASSERT_TRUE(doc->GetFrame(k + 1, frame).ok());
            for (long i = 0; i < n; ++i) {
                double source = frame.At(i % naxes[0], i / naxes[0]);
                if (code == 6 && source < 0) source += 65536;  // uint16 samples
                ASSERT_EQ(values[static_cast<std::size_t>(k * n + i)], source) << i;
            }
        }
    }
}

// A data file cut short while it is converted (after it was opened and checked) fails the
// conversion with the reason; no FITS file appears.
TEST(FitsRoundTrip, DataFileCutWhileConvertingFailsAndLeavesNoFile) {
    TempDir dir;
    const std::string spe = dir / "cut.spe";
    ASSERT_TRUE(orlix::SpeFile::Create(spe, 2048, 1100, 2, orlix::kSpeInt16).ok());
    orlix::Application app;
    auto doc = app.NewDataDocument();
    ASSERT_TRUE(doc->Open(spe, 0, 0, 0, 0, "").ok());
    std::filesystem::resize_file(spe, 4100 + 2048 * 1100 * 2 + 2048 * 1050 * 2);
    testing_fakes::RecordingReporter reporter;
    const std::string fit = dir / "cut.fit";
    auto written = WriteFitsFile(
        "SIMPLE  =                    T\r\nBITPIX  =                   16\r\n"
        "NAXIS   =                    3\r\nNAXIS1  =                 2048\r\n"
        "NAXIS2  =                 1100\r\nNAXIS3  =                    2\r\n",
        *doc, fit, reporter);
    ASSERT_FALSE(written.ok());
    EXPECT_NE(written.message().find("cut.spe: cannot read frame 2: file ends early"),
              std::string::npos)
        << written.message();
    EXPECT_FALSE(std::filesystem::exists(fit));
}

// A whole FITS file's header appended to the Standard header (--add-header x.fit) gives a
// file without fitsverify errors: its structural cards are left out, with a warning (its
// other cards, such as EXPTIME, may repeat the Standard ones: a warning only).
TEST(FitsRoundTrip, AddingAWholeFitsFilesHeaderStaysValid) {
    TempDir dir;
    orlix::Application app;
    MemoryHeaderStore store;
    HeaderContext context{store, app};
    testing_fakes::RecordingReporter reporter;
    const std::string spe = Sample("hene_int32_1340x1.spe");
    std::filesystem::create_directory(dir / "first");
    std::filesystem::create_directory(dir / "second");
    auto first = ConvertFiles(context, reporter, {spe}, {true, "", dir / "first"});
    ASSERT_TRUE(first.ok()) << first.failures[0];
    auto second = ConvertFiles(context, reporter, {spe},
                               {true, dir / "first/hene_int32_1340x1.fit", dir / "second"});
    ASSERT_TRUE(second.ok()) << second.failures[0];
    ASSERT_EQ(reporter.warnings.size(), 1u);
    EXPECT_NE(reporter.warnings[0].find("left out SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2, NAXIS3"),
              std::string::npos)
        << reporter.warnings[0];
    const std::string command =
        "fitsverify '" + dir / "second/hene_int32_1340x1.fit" + "' | grep -q ' and 0 error(s)'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

// A floating card holds 20 characters: values whose shortest text is longer (up to 24
// characters, like 1/30000) are written with fewer digits, never cut into an invalid number.
// Every card across many magnitudes parses back with CFITSIO (13 to 15 significant digits
// remain, depending on sign and exponent).
TEST(FloatingCards, EveryMagnitudeParsesBackWithCfitsio) {
    TempDir dir;
    std::string header =
        "SIMPLE  =                    T\r\nBITPIX  =                    8\r\n"
        "NAXIS   =                    0\r\n";
    std::vector<double> values;
    for (int e = -300; e <= 300; e += 7)
        for (double m : {1.0, 1.0 / 3.0, -2.0 / 3.0, 1.2345678901234567, -9.87654321098765e-1})
            values.push_back(m * std::pow(10.0, e));
    values.push_back(1.0 / 30000.0);  // an exposure of 0.0333... ms in seconds
    values.push_back(-1e-307);
    values.push_back(std::numeric_limits<double>::max());
    for (std::size_t i = 0; i < values.size(); ++i)
        InsertCard(header, "V" + std::to_string(i), Variant(values[i]).ToText(),
                   ValueType::kFloating, "", -1);
    const std::string path = dir / "floats.fits";
    ASSERT_TRUE(SaveHeader(header, path));
    fitsfile* file = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_file(&file, path.c_str(), READONLY, &status), 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        double read = 0;
        std::string key = "V" + std::to_string(i);
        fits_read_key_dbl(file, key.c_str(), &read, nullptr, &status);
        ASSERT_EQ(status, 0) << key << " = " << values[i];
        EXPECT_NEAR(read, values[i], std::abs(values[i]) * 1e-12) << key;
    }
    fits_close_file(file, &status);
}

}  // namespace
}  // namespace fits
