// Every sample SPE file converts with the Standard header; fitsverify passes the result and
// CFITSIO reads back exactly the source values.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
    ASSERT_TRUE(orlix::SpeFile::Create(spe, 2048, 1100, 2, orlix::SPE_INT16).ok());
    orlix::Application app;
    auto doc = app.NewDataDocument();
    ASSERT_TRUE(doc->Open(spe, 0, 0, 0, 0, "").ok());
    std::filesystem::resize_file(spe, 4100 + 2048 * 1100 * 2 + 2048 * 1050 * 2);
    testing_fakes::RecordingReporter reporter;
    const std::string fit = dir / "cut.fit";
    auto written = WriteFitsFile(
        "SIMPLE  = T\r\nBITPIX  = 16\r\nNAXIS1  = 2048\r\nNAXIS2  = 1100\r\nNAXIS3  = 2\r\n", *doc,
        fit, reporter);
    ASSERT_FALSE(written.ok());
    EXPECT_NE(written.message().find("cut.spe: cannot read frame 2: file ends early"),
              std::string::npos)
        << written.message();
    EXPECT_FALSE(std::filesystem::exists(fit));
}

}  // namespace
}  // namespace fits
