#include "fits/input/fits_display.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "orlix/application.h"

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
}

}  // namespace
}  // namespace fits
