#include "orlix/application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "test_support.h"

namespace orlix {
namespace {

using testing_support::TempDir;

TEST(Settings, DefaultsAndRoundTrip) {
    TempDir dir;
    ExperimentSettings defaults = LoadSettings();
    EXPECT_EQ(defaults.exposure_seconds, 1.0);
    EXPECT_EQ(defaults.frames, 1);
    EXPECT_EQ(defaults.type_code, 6);
    EXPECT_EQ(defaults.columns, 512);
    EXPECT_EQ(defaults.rows, 512);
    EXPECT_FALSE(defaults.floating);
    ASSERT_TRUE(SaveSettings({0.25, 3, 0, 64, 32, true}).ok());
    Application app;
    auto experiment = app.NewExperiment();
    EXPECT_EQ(experiment->GetParam(fits::exp_param::kExposure).ToText(), "0.25");
    EXPECT_EQ(experiment->GetParam(fits::exp_param::kFrames).ToText(), "3");
    EXPECT_EQ(experiment->GetParam(fits::exp_param::kDataType).ToInt32(), 0);
    EXPECT_EQ(experiment->GetParam(fits::exp_param::kColumns).ToText(), "64");
    EXPECT_EQ(experiment->GetParam(fits::exp_param::kRows).ToText(), "32");
    EXPECT_TRUE(experiment->GetParam(fits::exp_param::kFloatFlag).ToBool());
}

TEST(Experiment, AcquisitionProducesSpeFileNamedByParameter104) {
    TempDir dir;
    ASSERT_TRUE(SaveSettings({0.05, 3, 1, 64, 32, false}).ok());
    Application app;
    auto experiment = app.NewExperiment();
    auto doc = app.NewDataDocument();
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(experiment->Start(*doc).ok());
    ASSERT_TRUE(experiment->Wait().ok());
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(140));
    ASSERT_TRUE(doc->Finalize().ok());
    std::string path = doc->GetParam(fits::doc_param::kPath).ToText();
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir / "data/orlix");
    ASSERT_EQ(app.KeptDocuments().size(), 1u);

    auto reader = app.NewDataDocument();
    ASSERT_TRUE(reader->Open(path, 0, 0, 0, 0, "").ok());
    EXPECT_EQ(reader->GetParam(fits::doc_param::kColumns).ToInt32(), 64);
    EXPECT_EQ(reader->GetParam(fits::doc_param::kRows).ToInt32(), 32);
    EXPECT_EQ(reader->GetParam(fits::doc_param::kFrames).ToInt32(), 3);
    EXPECT_EQ(reader->GetParam(fits::doc_param::kDataType).ToInt32(), 1);
    EXPECT_EQ(reader->GetParam(fits::doc_param::kExposure).ToText(), "0.05");
    fits::Frame a, b;
    ASSERT_TRUE(reader->GetFrame(1, a).ok());
    ASSERT_TRUE(doc->GetFrame(1, b).ok());
    EXPECT_EQ(a.Type(), fits::ElementType::kInt16);
    double lo = 1e9, hi = -1e9;
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 64; ++c) {
            EXPECT_EQ(a.At(c, r), b.At(c, r));
            lo = std::min(lo, a.At(c, r)), hi = std::max(hi, a.At(c, r));
        }
    EXPECT_GT(hi - lo, 1000);  // spots over the background
}

TEST(Experiment, TypeCodesOfAcquisitions) {
    const struct {
        std::int32_t code;
        bool floating;
        std::int32_t produced;  // data type code of the file; -1: refused
    } cases[] = {{0, true, 3},  {0, false, 2},  {5, false, 5}, {6, false, 6},
                 {3, false, 3}, {4, false, -1}, {9, false, -1}};
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(SaveSettings({0, 1, c.code, 8, 1, c.floating}).ok());
        Application app;
        auto experiment = app.NewExperiment();
        auto doc = app.NewDataDocument();
        auto started = experiment->Start(*doc);
        if (c.produced < 0) {
            EXPECT_FALSE(started.ok());
            continue;
        }
        ASSERT_TRUE(started.ok());
        ASSERT_TRUE(experiment->Wait().ok());
        ASSERT_TRUE(doc->Finalize().ok());
        EXPECT_EQ(doc->GetParam(fits::doc_param::kDataType).ToInt32(), c.produced) << c.code;
    }
}

TEST(Display, NewDocumentIsKeptAndShown) {
    TempDir dir;
    Application app;
    int shows = 0;
    app.SetShowHook([&](std::shared_ptr<DocumentState>) { ++shows; });
    {
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open("", 4, 4, 1, 1, dir / "d.spe").ok());
        EXPECT_EQ(shows, 0);  // no viewer before there is data to show
        ASSERT_TRUE(doc->Refresh().ok());
    }
    EXPECT_EQ(shows, 1);
    ASSERT_EQ(app.KeptDocuments().size(), 1u);
    EXPECT_EQ(app.KeptDocuments()[0]->file->Info().columns, 4);
    // A new document never replaces an existing file.
    auto again = app.NewDataDocument();
    auto refused = again->Open("", 4, 4, 1, 1, dir / "d.spe");
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.message().find("File exists"), std::string::npos) << refused.message();
}

// Closing a document the application keeps (what a failed display does before removing the
// file) lets go of it and takes it off the screen; closing any other document does neither.
TEST(Display, ClosingAKeptDocumentReleasesIt) {
    TempDir dir;
    Application app;
    std::vector<std::shared_ptr<DocumentState>> closed;
    app.SetCloseHook([&](std::shared_ptr<DocumentState> state) { closed.push_back(state); });
    auto shown = app.NewDataDocument();
    ASSERT_TRUE(shown->Open("", 4, 4, 2, 1, dir / "d.spe").ok());
    ASSERT_TRUE(shown->Refresh().ok());
    ASSERT_EQ(app.KeptDocuments().size(), 1u);
    const auto kept = app.KeptDocuments()[0];

    auto opened = app.NewDataDocument();  // an existing file, as a conversion opens it
    ASSERT_TRUE(opened->Open(dir / "d.spe", 0, 0, 0, 0, "").ok());
    ASSERT_TRUE(opened->Close().ok());
    EXPECT_TRUE(closed.empty());
    EXPECT_EQ(app.KeptDocuments().size(), 1u);

    ASSERT_TRUE(shown->Close().ok());
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], kept);
    EXPECT_TRUE(app.KeptDocuments().empty());
    ASSERT_TRUE(shown->Close().ok());  // closing again: nothing more
    EXPECT_EQ(closed.size(), 1u);
}

// Parameter 104 is the full path, also for a document opened by a relative one; a file
// holding fewer frames than its header says opens with a notice that gives the counts.
TEST(Document, FullPathAndTruncationNotice) {
    TempDir dir;
    Application app;
    {
        auto created = app.NewDataDocument();
        ASSERT_TRUE(created->Open("", 4, 2, 3, 1, dir / "t.spe"));
    }
    std::filesystem::resize_file(dir / "t.spe", 4100 + 16 + 5);  // one frame and a piece
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    auto doc = app.NewDataDocument();
    auto opened = doc->Open("t.spe", 0, 0, 0, 0, "");
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(opened) << opened.message();
    EXPECT_EQ(doc->GetParam(fits::doc_param::kPath).ToText(), dir / "t.spe");
    EXPECT_EQ(doc->Notice(),
              "t.spe: the file is shorter than its header says: 1 of 3 frames present; the "
              "frames present are read");
}

}  // namespace
}  // namespace orlix
