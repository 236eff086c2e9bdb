#include "fits/convert/commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "fits/input/fits_display.h"
#include "orlix/application.h"

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
    for (const char* name : {"short.fit", "nothing.fit"}) {
        auto failed = DisplayFitsFile(app, dir / name);
        EXPECT_FALSE(failed) << name;
        EXPECT_EQ(failed.message().rfind(dir / name + ": ", 0), 0u) << failed.message();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "short.spe"));
    EXPECT_FALSE(std::filesystem::exists(dir / "nothing.spe"));
}

}  // namespace
}  // namespace fits
