#include "fits/input/fits_display.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "fits/convert/commands.h"
#include "orlix/application.h"
#include "orlix/spe_file.h"

namespace fits {
namespace {

using testing_fakes::MemoryDocument;
using testing_support::TempDir;

// Big-endian samples of each BITPIX become elements of the matching type; other BITPIX
// values and short buffers give no frame.
TEST(BytesToFrame, DecodesEachBitpix) {
    const struct {
        std::int32_t bitpix;
        std::vector<std::uint8_t> bytes;
        bool decoded;
        ElementType type;
        double first, second;
    } cases[] = {
        {8, {0x00, 0xFF}, true, ElementType::kUInt8, 0, 255},
        {16, {0xFF, 0xFE, 0x01, 0x02}, true, ElementType::kInt16, -2, 258},
        {32,
         {0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x01, 0x00, 0x00},
         true,
         ElementType::kInt32,
         -2,
         65536},
        {-32, {0x3F, 0x80, 0, 0, 0xC0, 0x20, 0, 0}, true, ElementType::kFloat32, 1.0, -2.5},
        {16, {0x00, 0x01, 0x00}, false, ElementType::kInt16, 0, 0},  // one byte short
        {64, std::vector<std::uint8_t>(16), false, ElementType::kInt16, 0, 0},
        {-64, std::vector<std::uint8_t>(16), false, ElementType::kInt16, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bitpix);
        MemoryDocument doc;
        doc.params[doc_param::kColumns] = 2;
        doc.params[doc_param::kRows] = 1;
        Frame frame = BytesToFrame(doc, c.bytes, c.bitpix);
        ASSERT_EQ(frame.Columns() == 2, c.decoded);
        if (!c.decoded) continue;
        EXPECT_EQ(frame.Type(), c.type);
        EXPECT_EQ(frame.At(0, 0), c.first);
        EXPECT_EQ(frame.At(1, 0), c.second);
    }
}

// The name never names an existing file, however many numbered ones are taken.
TEST(FreeDisplayName, SkipsEveryTakenName) {
    TempDir dir;
    const std::string fit = dir / "run.fit";
    EXPECT_EQ(FreeDisplayName(fit), dir / "run.spe");
    std::ofstream(dir / "run.spe") << "x";
    for (int n = 2; n <= 40; ++n) {
        EXPECT_EQ(FreeDisplayName(fit), dir / ("run-" + std::to_string(n) + ".spe"));
        std::ofstream(dir / ("run-" + std::to_string(n) + ".spe")) << "x";
    }
}

// A FITS file in a folder the user cannot write is shown from the application's data folder;
// an unchanged file shown again, in a later session too, shows the document made from it,
// and a changed one gets a new document.
TEST(DisplayFitsFile, FoldersTheUserCannotWriteAndLaterSessions) {
    namespace fs = std::filesystem;
    TempDir dir;  // also the user's data folder (dir/data)
    chmod(dir.path().c_str(), 0777);
    fs::create_directories(dir / "data/orlix");
    chmod((dir / "data").c_str(), 0777);
    chmod((dir / "data/orlix").c_str(), 0777);
    const std::string sample = std::string(SAMPLES_DIR) + "/../fits/hene_int32_1340x1.fit";
    fs::create_directory(dir / "ro");
    fs::copy_file(sample, dir / "ro/hene.fit");
    chmod((dir / "ro").c_str(), 0555);
    auto show = [](const std::string& fits) {
        orlix::Application app;  // a session of its own
        std::string shown;
        return DisplayFitsFile(app, fits, &shown).ok();
    };
    const struct {
        std::string fits;
        bool as_user;
        std::string document;  // the document that must exist afterwards
    } cases[] = {
        {dir / "ro/hene.fit", true, dir / "data/orlix/hene.spe"},
        {dir / "ro/hene.fit", true, dir / "data/orlix/hene.spe"},  // reused
        {dir / "hene.fit", false, dir / "hene.spe"},
        {dir / "hene.fit", false, dir / "hene.spe"},  // reused
    };
    fs::copy_file(sample, dir / "hene.fit");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fits);
        EXPECT_TRUE(c.as_user ? testing_support::InChildAsUser([&] { return show(c.fits); })
                              : show(c.fits));
        EXPECT_TRUE(fs::exists(c.document));
    }
    EXPECT_FALSE(fs::exists(dir / "ro/hene.spe"));
    EXPECT_FALSE(fs::exists(dir / "data/orlix/hene-2.spe"));
    EXPECT_FALSE(fs::exists(dir / "hene-2.spe"));
    // A changed FITS file is shown anew.
    fs::last_write_time(dir / "hene.fit",
                        fs::last_write_time(dir / "hene.fit") + std::chrono::seconds(5));
    EXPECT_TRUE(show(dir / "hene.fit"));
    EXPECT_TRUE(fs::exists(dir / "hene-2.spe"));
    chmod((dir / "ro").c_str(), 0755);
    // An application without a data folder of its own keeps no index anywhere.
    struct NoFolder : orlix::Application {
        std::string DataFolder() override { return {}; }
    } bare;
    fs::last_write_time(dir / "hene.fit",
                        fs::last_write_time(dir / "hene.fit") + std::chrono::seconds(5));
    const bool indexed_at_root = fs::exists("/displayed-fits.tsv");
    EXPECT_TRUE(DisplayFitsFile(bare, dir / "hene.fit"));
    EXPECT_TRUE(fs::exists(dir / "hene-3.spe"));
    EXPECT_EQ(fs::exists("/displayed-fits.tsv"), indexed_at_root);
}

// A displayed FITS file's wavelength axis, linear or a table, becomes the document's
// calibration (the wavelengths of the SPE file it was converted from); an axis that cannot
// be carried is said and the document has none.
TEST(DisplayFitsFile, CarriesTheWavelengthAxis) {
    namespace fs = std::filesystem;
    TempDir dir;
    orlix::Application app;
    MemoryHeaderStore store;
    HeaderContext context{store, app};
    testing_fakes::RecordingReporter reporter;
    ScienceOptions science;
    science.metadata = true;
    // The card at `from` of glue.fit replaced by `to` (padded to 80 columns), as NAME.fit.
    auto patched = [&](const std::string& name, const std::string& from, std::string to) {
        std::ifstream in(dir / "glue.fit", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const std::size_t at = bytes.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        to.resize(80, ' ');
        if (at != std::string::npos) bytes.replace(at, 80, to);
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    };
    const struct {
        const char* name;  // a sample, or a patched glue.fit
        std::string from, to;
        double per_nm;     // the document's wavelengths over the sample's
        const char* note;  // in the note when the axis is not carried
    } cases[] = {
        {"glue_float32_4711x1_v25", "", "", 1, ""},  // WAVE
        {"hene_int32_1340x1", "", "", 1, ""},        // WAVE-TAB
        {"polystyrene_uint16_1340x1", "", "", 1, ""},
        {"noise_uint16_1020x1x5", "", "", 1, ""},
        {"angstrom", "CUNIT1  = 'nm", "CUNIT1  = 'Angstrom'", 0.1, ""},
        {"log", "CTYPE1  = 'WAVE", "CTYPE1  = 'WAVE-LOG'", 0, "axis 1 is WAVE-LOG"},
        {"hertz", "CUNIT1  = 'nm", "CUNIT1  = 'Hz'", 0, "CUNIT1 'Hz' is no length"},
        {"nostep", "CDELT1  =", "CDELT1  = 'x'", 0, "its step is no number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string fits = dir / (std::string(c.name) + ".fit");
        if (c.from.empty()) {
            fs::copy_file(testing_support::Sample(std::string(c.name) + ".spe"),
                          dir / (std::string(c.name) + ".spe"));
            auto report = ConvertFiles(context, reporter, {dir / (std::string(c.name) + ".spe")},
                                       {}, {}, science);
            ASSERT_TRUE(report.ok());
            if (std::string(c.name).starts_with("glue")) fs::copy_file(fits, dir / "glue.fit");
        } else {
            fits = patched(std::string(c.name) + ".fit", c.from, c.to);
        }
        std::string shown;
        std::vector<std::string> notes;
        ASSERT_TRUE(DisplayFitsFile(app, fits, &shown, {}, &notes));
        auto document = orlix::SpeFile::Open(shown);
        ASSERT_TRUE(document);
        const auto& regions = (*document)->Info().metadata.regions;
        ASSERT_EQ(regions.size(), 1u);
        const std::vector<double>& got = regions[0].wavelengths;
        if (*c.note) {
            EXPECT_TRUE(got.empty());
            ASSERT_EQ(notes.size(), 1u);
            EXPECT_NE(notes[0].find(c.note), std::string::npos) << notes[0];
            continue;
        }
        EXPECT_TRUE(notes.empty()) << notes[0];
        const std::string source = testing_support::Sample(
            std::string(c.per_nm == 1 ? c.name : "glue_float32_4711x1_v25") + ".spe");
        auto spe = orlix::SpeFile::Open(source);
        ASSERT_TRUE(spe);
        const std::vector<double>& want = (*spe)->Info().metadata.regions[0].wavelengths;
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t j = 0; j < want.size(); ++j)
            ASSERT_NEAR(got[j], want[j] * c.per_nm, 1e-4) << "column " << j;
    }
}

}  // namespace
}  // namespace fits
