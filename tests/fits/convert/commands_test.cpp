#include "fits/convert/commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "fits/input/fits_display.h"
#include "orlix/application.h"
#include "orlix/spe_file.h"

namespace fits {
namespace {

using testing_fakes::MemoryDocument;
using testing_fakes::RecordingReporter;
using testing_support::Sample;
using testing_support::TempDir;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Documents of 2 x 2 samples; the one opened as "huge.spe" cannot allocate its frame.
class HugeFrameFactory : public testing_fakes::MemoryFactory {
  public:
    class Document : public MemoryDocument {
      public:
        Status Open(const std::string& name, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    const std::string&) override {
            huge_ = name.ends_with("huge.spe");
            params = {{doc_param::kColumns, 2},
                      {doc_param::kRows, 2},
                      {doc_param::kFrames, 1},
                      {doc_param::kDataType, 1},
                      {doc_param::kExposure, 1.0}};
            frames.assign(1, Frame(ElementType::kInt16, 2, 2));
            return Status::Ok();
        }
        Status GetFrame(std::int64_t n, Frame& frame) override {
            if (huge_) throw std::bad_alloc();
            return MemoryDocument::GetFrame(n, frame);
        }

      private:
        bool huge_ = false;
    };
    std::unique_ptr<DataDocument> NewDataDocument() override {
        return std::make_unique<Document>();
    }
};

// A frame that cannot be allocated fails its file only; the batch goes on.
TEST(ConvertFiles, AllocationFailureFailsOneFile) {
    TempDir dir;
    HugeFrameFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    RecordingReporter reporter;
    auto report = ConvertFiles(context, reporter, {dir / "huge.spe", dir / "small.spe"}, {});
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0], dir / "huge.spe" + ": not enough memory to convert it");
    EXPECT_EQ(report.written, std::vector<std::string>{dir / "small.fit"});
}

// A Custom header is written as it stands, but what its files will not hold is said.
TEST(ConvertFiles, CustomHeaderSaysWhatItsFilesWillNotHold) {
    TempDir dir;
    HugeFrameFactory factory;
    const std::string head = "SIMPLE  =                    T\r\nBITPIX  =                   16\r\n";
    const struct {
        std::string cards;
        const char* said;
    } cases[] = {
        {"NAXIS   =                    0\r\n", "NAXIS is 0: each FITS file holds the header alone"},
        {"NAXIS   =                    2\r\nNAXIS1  =                    2\r\nNAXIS2  =       "
         "             2\r\nCTYPE1  = 'WAVE-TAB'\r\n",
         "CTYPE1 = 'WAVE-TAB' asks for a table the files will not hold"},
    };
    for (const auto& c : cases) {
        MemoryHeaderStore store;
        store.ReplaceText(head + c.cards);
        HeaderContext context{store, factory};
        RecordingReporter reporter;
        ConvertOptions custom;
        custom.standard = false;
        auto report = ConvertFiles(context, reporter, {dir / "small.spe"}, custom);
        EXPECT_TRUE(report.ok()) << c.said;
        ASSERT_EQ(reporter.warnings.size(), 1u) << c.said;
        EXPECT_NE(reporter.warnings[0].find(c.said), std::string::npos) << reporter.warnings[0];
    }
}

TEST(FitsPathFor, OnlyTheFileNamesExtensionCounts) {
    const struct {
        const char* spe;
        const char* out;
        const char* fits;
    } cases[] = {
        {"my.data/run", "", "my.data/run.fit"}, {"/a.b/c.spe", "", "/a.b/c.fit"},
        {"dir/.hidden", "", "dir/.hidden.fit"}, {"my.data/run", "/o", "/o/run.fit"},
        {"x/y.SPE", "/o/", "/o/y.fit"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitsPathFor(c.spe, c.out), c.fits) << c.spe;
}

// The round trip run1.spe -> run1.fit -> Display never replaces run1.spe; a display that
// fails leaves no file behind.
TEST(DisplayFitsFile, NeverReplacesAnExistingFile) {
    TempDir dir;
    std::filesystem::copy_file(Sample("hene_int32_1340x1.spe"), dir / "run1.spe");
    orlix::Application app;
    MemoryHeaderStore store;
    HeaderContext context{store, app};
    RecordingReporter reporter;
    auto report = ConvertFiles(context, reporter, {dir / "run1.spe"}, {});
    ASSERT_TRUE(report.ok());
    const std::string raw = ReadAll(dir / "run1.spe");

    std::string shown;
    ASSERT_TRUE(DisplayFitsFile(app, dir / "run1.fit", &shown));
    EXPECT_EQ(shown, dir / "run1-2.spe");
    EXPECT_EQ(ReadAll(dir / "run1.spe"), raw);
    ASSERT_TRUE(DisplayFitsFile(app, dir / "run1.fit", &shown));
    EXPECT_EQ(shown, dir / "run1-2.spe");  // unchanged: the same document again
    EXPECT_FALSE(std::filesystem::exists(dir / "run1-3.spe"));

    const std::string fits = ReadAll(dir / "run1.fit");
    std::ofstream(dir / "short.fit", std::ios::binary) << fits.substr(0, fits.size() - 2880);
    std::ofstream(dir / "nothing.fit", std::ios::binary) << std::string(2880, ' ');
    std::ofstream(dir / "text.fit", std::ios::binary) << "not a FITS file\n";
    const std::pair<const char*, const char*> refused[] = {
        {"short.fit", "shorter"}, {"nothing.fit", "not a FITS file"}, {"text.fit", "not a FITS"}};
    for (const auto& [name, why] : refused) {
        auto failed = DisplayFitsFile(app, dir / name);
        EXPECT_FALSE(failed) << name;
        EXPECT_EQ(failed.message().rfind(dir / name + ": ", 0), 0u) << failed.message();
        EXPECT_NE(failed.message().find(why), std::string::npos) << failed.message();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "short.spe"));
    EXPECT_FALSE(std::filesystem::exists(dir / "nothing.spe"));
    // A tile-compressed file is displayed with the values of the uncompressed one.
    ConvertOptions packed;
    packed.compress = true;
    packed.targets = {dir / "packed.fit"};
    ASSERT_TRUE(ConvertFiles(context, reporter, {dir / "run1.spe"}, packed).ok());
    ASSERT_TRUE(DisplayFitsFile(app, dir / "packed.fit", &shown));
    EXPECT_EQ(shown, dir / "packed.spe");
    EXPECT_EQ(ReadAll(shown).substr(4100), ReadAll(dir / "run1-2.spe").substr(4100));
}

// Converting and displaying say their bytes as they go, up to the last; asked to
// stop, they keep nothing: the old FITS file stays, no display document or temporary file is
// left, and the stopped file is not reached rather than failed.
TEST(LongWork, SaysItsBytesAndStopsLeavingNothing) {
    namespace fs = std::filesystem;
    TempDir dir;
    // 6 frames of 1024 x 1024 int16: 12 MiB, written and read in several pieces.
    ASSERT_TRUE(orlix::SpeFile::Create(dir / "big.spe", 1024, 1024, 6, orlix::kSpeInt16));
    const struct {
        bool display;
        int stop_at;  // the call of the progress that answers "stop"; 0: none does
    } cases[] = {{false, 2}, {false, 0}, {false, 3}, {false, 0}, {true, 1}, {true, 4}, {true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.display ? "display" : "convert") + " stop at " +
                     std::to_string(c.stop_at));
        auto fits = [&] { return fs::exists(dir / "big.fit") ? ReadAll(dir / "big.fit") : "none"; };
        const std::string before = fits();
        std::vector<std::pair<std::int64_t, std::int64_t>> calls;
        auto step = [&](std::int64_t done, std::int64_t total) {
            calls.emplace_back(done, total);
            return static_cast<int>(calls.size()) != c.stop_at;
        };
        orlix::Application app;
        bool stopped = false;
        if (c.display) {
            std::string shown;
            Status s = DisplayFitsFile(app, dir / "big.fit", &shown, step);
            ASSERT_EQ(s.ok(), c.stop_at == 0) << s.message();
            stopped = !s;
            EXPECT_TRUE(!stopped || s.message().find("cancelled") != std::string::npos);
            EXPECT_EQ(fs::exists(dir / "big-2.spe"), !stopped);
            EXPECT_EQ(app.KeptDocuments().size(), stopped ? 0u : 1u);
        } else {
            MemoryHeaderStore store;
            HeaderContext context{store, app};
            RecordingReporter reporter;
            ConvertOptions options;
            options.writing = [&](std::size_t i, std::int64_t done, std::int64_t total) {
                EXPECT_EQ(i, 0u);
                return step(done, total);
            };
            auto report = ConvertFiles(context, reporter, {dir / "big.spe"}, options);
            stopped = report.cancelled;
            EXPECT_EQ(stopped, c.stop_at != 0);
            EXPECT_TRUE(report.failures.empty());
            EXPECT_EQ(report.files[0].kind,
                      stopped ? FileOutcome::Kind::kNotReached : FileOutcome::Kind::kConverted);
            EXPECT_TRUE(!stopped || fits() == before);
        }
        // Stopped, the work asks no more; not stopped, it said several pieces.
        if (stopped)
            EXPECT_EQ(calls.size(), static_cast<std::size_t>(c.stop_at));
        else
            EXPECT_GE(calls.size(), 3u);
        for (std::size_t k = 1; k < calls.size(); ++k) {
            EXPECT_GE(calls[k].first, calls[k - 1].first);  // repeated while waiting for the disk
            EXPECT_EQ(calls[k].second, calls[0].second);
        }
        EXPECT_TRUE(stopped || calls.back().first == calls.back().second);
        EXPECT_GE(calls.back().second, 12 << 20);
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
        fs::remove(dir / "big-2.spe");
    }
    // A stop asked while the finished file is compressed keeps the old FITS file too.
    const std::string before = ReadAll(dir / "big.fit");
    orlix::Application app;
    MemoryHeaderStore store;
    HeaderContext context{store, app};
    RecordingReporter reporter;
    ConvertOptions options;
    options.compress = true;
    options.targets = {dir / "big.fit"};
    options.aside = [](std::size_t, const std::function<void()>& work, std::atomic<bool>& stop) {
        stop = true;
        work();
    };
    auto report = ConvertFiles(context, reporter, {dir / "big.spe"}, options);
    EXPECT_TRUE(report.cancelled);
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(report.files[0].kind, FileOutcome::Kind::kNotReached);
    EXPECT_EQ(ReadAll(dir / "big.fit"), before);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

}  // namespace
}  // namespace fits
