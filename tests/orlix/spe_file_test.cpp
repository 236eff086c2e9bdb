#include "orlix/spe_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cmath>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "orlix/application.h"
#include "test_support.h"

namespace orlix {
namespace {

using testing_support::Sample;
using testing_support::TempDir;

struct FrameStats {
    double min, max, sum;
};

struct SampleCase {
    const char* name;
    std::int32_t columns, rows, frames, code;
    const char* exposure;
    std::vector<FrameStats> stats;
    std::vector<double> first4;
};

const SampleCase kSamples[] = {
    {"hene_int32_1340x1.spe",
     1340,
     1,
     1,
     2,
     "4",
     {{5631, 266664, 13268580}},
     {5651, 5818, 5822, 5779}},
    {"noise_uint16_1020x1x5.spe",
     1020,
     1,
     5,
     6,
     "5",
     {{670, 705, 696614},
      {668, 699, 693335},
      {664, 688, 690157},
      {664, 688, 687871},
      {662, 683, 685537}},
     {670, 678, 683, 683}},
    {"polystyrene_uint16_1340x1.spe",
     1340,
     1,
     1,
     6,
     "0.1",
     {{567, 3832, 909945}},
     {585, 590, 593, 596}},
    {"frames01_uint16_32x32x2.spe", 32, 32, 2, 6, "0", {{0, 0, 0}, {1, 1, 1024}}, {0, 0, 0, 0}},
    {"image_uint16_30x20x2.spe",
     30,
     20,
     2,
     6,
     "0",
     {{1946, 2023, 1190522}, {1943, 2024, 1189228}},
     {2020, 2010, 1998, 2002}},
    {"glue_float32_4711x1_v25.spe",
     4711,
     1,
     1,
     3,
     "0.02",
     {{0, 2338.53, 10950960.6919}},
     {0, 2322.12, 2323.83, 2323.11}},
};

// Element value as the file means it: 16-bit elements of code 6 hold unsigned samples.
double Unsigned(const fits::Frame& frame, std::int64_t c, std::int64_t r, std::int32_t code) {
    double v = frame.At(c, r);
    return (code == 6 && v < 0) ? v + 65536 : v;
}

TEST(SpeSamples, OpenWithKnownValuesThroughDataDocument) {
    Application app;
    for (const auto& s : kSamples) {
        SCOPED_TRACE(s.name);
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(Sample(s.name), 0, 0, 0, 0, "").ok());
        EXPECT_EQ(doc->GetParam(fits::doc_param::kColumns).ToText(), std::to_string(s.columns));
        EXPECT_EQ(doc->GetParam(fits::doc_param::kRows).ToText(), std::to_string(s.rows));
        EXPECT_EQ(doc->GetParam(fits::doc_param::kFrames).ToText(), std::to_string(s.frames));
        EXPECT_EQ(doc->GetParam(fits::doc_param::kDataType).ToInt32(), s.code);
        EXPECT_EQ(doc->GetParam(fits::doc_param::kExposure).ToText(), s.exposure);
        EXPECT_EQ(doc->GetParam(fits::doc_param::kPath).ToText(), Sample(s.name));
        fits::Frame frame;
        for (std::int32_t f = 0; f < s.frames; ++f) {
            ASSERT_TRUE(doc->GetFrame(f + 1, frame).ok());
            ASSERT_EQ(frame.Columns(), s.columns);
            ASSERT_EQ(frame.Rows(), s.rows);
            double lo = std::numeric_limits<double>::max(), hi = -lo, sum = 0;
            for (std::int64_t r = 0; r < frame.Rows(); ++r)
                for (std::int64_t c = 0; c < frame.Columns(); ++c) {
                    double v = Unsigned(frame, c, r, s.code);
                    lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
                }
            EXPECT_NEAR(lo, s.stats[f].min, 0.01);
            EXPECT_NEAR(hi, s.stats[f].max, 0.01);
            EXPECT_NEAR(sum, s.stats[f].sum, 0.01);
        }
        ASSERT_TRUE(doc->GetFrame(1, frame).ok());
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(Unsigned(frame, i, 0, s.code), s.first4[i], 0.01);
        EXPECT_FALSE(doc->GetFrame(s.frames + 1, frame).ok());
        EXPECT_FALSE(doc->GetFrame(0, frame).ok());
        doc->Close();
        EXPECT_TRUE(doc->GetParam(fits::doc_param::kColumns).IsEmpty());
    }
}

TEST(SpeCorrupt, EveryCorpusFileFailsCleanlyNamingTheFile) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CORRUPT_DIR)) {
        ++files;
        std::string path = entry.path().string();
        auto file = SpeFile::Open(path);
        EXPECT_FALSE(file.ok()) << path;
        EXPECT_EQ(file.message().rfind(path + ": ", 0), 0u) << file.message();
    }
    EXPECT_GE(files, 20);
    EXPECT_FALSE(SpeFile::Open("/").ok());
}

TEST(SpeCorrupt, UnsupportedDatatypeOpensButRefusesFrames) {
    TempDir dir;
    for (std::int16_t datatype : {kSpeFloat64}) {  // unsigned 32-bit frames are read
        std::uint8_t header[4100] = {};
        std::uint16_t two = 2;
        std::int32_t one = 1;
        std::uint32_t identity = 0x01234567;
        std::memcpy(header + 42, &two, 2);
        std::memcpy(header + 656, &two, 2);
        std::memcpy(header + 108, &datatype, 2);
        std::memcpy(header + 1446, &one, 4);
        std::memcpy(header + 2996, &identity, 4);
        std::string path = dir / "u.spe";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(header), 4100)
            << std::string(32, '\0');
        Application app;
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(path, 0, 0, 0, 0, "").ok());
        EXPECT_EQ(doc->GetParam(fits::doc_param::kDataType).ToInt32(), 4);
        fits::Frame frame;
        auto status = doc->GetFrame(1, frame);
        EXPECT_FALSE(status.ok());
        EXPECT_NE(status.message().find("is not supported"), std::string::npos);
    }
}

// A frame count larger than the data present: the whole frames present count.
TEST(SpeFile, WrongNumFramesUsesFramesPresent) {
    TempDir dir;
    std::ifstream in(Sample("noise_uint16_1020x1x5.spe"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    bytes.resize(4100 + 2 * 2040 + 100);  // two whole frames and a partial one
    std::string path = dir / "cut.spe";
    std::ofstream(path, std::ios::binary) << bytes;
    auto file = SpeFile::Open(path);
    ASSERT_TRUE(file.ok()) << file.message();
    EXPECT_EQ(file.value()->Info().frames, 2);
    EXPECT_EQ(file.value()->Info().header_frames, 5);
}

// Opening fails with the system's own reason, and a name's control characters are shown
// escaped so that the message stays one line.
TEST(SpeFile, OpenReportsTheSystemsReason) {
    TempDir dir;
    std::filesystem::create_symlink("loop.spe", dir / "loop.spe");
    std::ofstream(dir / "locked.spe") << "x";
    std::filesystem::permissions(dir / "locked.spe", std::filesystem::perms::none);
    const struct {
        std::string path;
        std::string message;
        bool as_root_too;
    } cases[] = {
        {dir / "none.spe", "none.spe: cannot open: No such file or directory", true},
        {dir / "loop.spe", "loop.spe: cannot open: Too many levels of symbolic links", true},
        {dir / (std::string(300, 'n') + ".spe"), "cannot open: File name too long", true},
        {dir / "locked.spe", "locked.spe: cannot open: Permission denied", false},
        {dir / "a\tb\n.spe", "a\\x09b\\x0A.spe: cannot open: No such file", true},
        {dir.path(), ": is a folder", true},
        {dir / "pipe.spe", "pipe.spe: not a regular file", true},  // refused, not waited for
    };
    ASSERT_EQ(mkfifo((dir / "pipe.spe").c_str(), 0600), 0);
    for (const auto& c : cases) {
        if (!c.as_root_too && geteuid() == 0) continue;
        auto file = SpeFile::Open(c.path);
        ASSERT_FALSE(file.ok()) << c.path;
        EXPECT_NE(file.message().find(c.message), std::string::npos) << file.message();
    }
}

// The header's side of the footer tests: 2 frames of 3 x 3 unsigned 16-bit samples.
SpeInfo ThreeByThreeUInt16() {
    SpeInfo info;
    info.datatype = kSpeUInt16;
    info.columns = 3;
    info.rows = 3;
    info.header_frames = 2;
    return info;
}

// Sizes in a 3.0 footer are the file's word: values near 2^63 must be refused cleanly,
// never overflow.
TEST(SpeVersion3, HostileFooterSizesAreRefused) {
    const std::string huge = "9223372036854775807";
    const std::string near = "4611686018427387904";
    const struct {
        std::string frame_stride, region_height, region_stride;
    } cases[] = {
        {"50", huge, "6"}, {"50", near, "6"}, {"50", "1", huge},
        {huge, "1", "6"},  {"50", "3", "18"},
    };
    for (const auto& c : cases) {
        SpeInfo info = ThreeByThreeUInt16();
        const std::string xml =
            "<SpeFormat><DataFormat><DataBlock type=\"Frame\" count=\"2\" "
            "pixelFormat=\"MonochromeUnsigned16\" size=\"18\" stride=\"" +
            c.frame_stride + "\"><DataBlock type=\"Region\" width=\"3\" height=\"" +
            c.region_height + "\" stride=\"" + c.region_stride +
            "\"/><DataBlock type=\"Region\" width=\"3\" "
            "height=\"" +
            c.region_height + "\"/></DataBlock></DataFormat></SpeFormat>";
        EXPECT_FALSE(ApplyXmlFooter(xml, info)) << xml;
    }
}

// A refused count or size is named as the file writes it, not as a number it never held.
TEST(SpeVersion3, RefusedFooterNumbersAreQuotedAsWritten) {
    const struct {
        std::string count, size, said;
    } cases[] = {
        {"2", "18446744073709551615", "frame size \"18446744073709551615\" bytes, header 18"},
        {"2", "-1", "frame size \"-1\" bytes"},
        {"2", "1099511627777", "frame size \"1099511627777\" bytes"},
        {"two", "18", "frame count \"two\", header 2"},
        {"", "18", "frame count \"\", header 2"},
    };
    for (const auto& c : cases) {
        SpeInfo info = ThreeByThreeUInt16();
        const std::string xml = "<SpeFormat><DataFormat><DataBlock type=\"Frame\" count=\"" +
                                c.count + "\" pixelFormat=\"MonochromeUnsigned16\" size=\"" +
                                c.size + "\"/></DataFormat></SpeFormat>";
        Status s = ApplyXmlFooter(xml, info);
        ASSERT_FALSE(s) << xml;
        EXPECT_NE(s.message().find(c.said), std::string::npos) << s.message();
    }
}

TEST(SpeCreate, PutFrameReadsBackForEachCreatableType) {
    TempDir dir;
    Application app;
    const struct {
        std::int32_t code;
        fits::ElementType element;
        double low, high;
    } cases[] = {
        {5, fits::ElementType::kUInt8, 0, 255},
        {1, fits::ElementType::kInt16, -32768, 32767},
        {2, fits::ElementType::kInt32, -2147483648.0, 2147483647.0},
        {3, fits::ElementType::kFloat32, -1048576.5, 2.25},
        {6, fits::ElementType::kInt16, -32768, 32767},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        std::string path = dir / ("new" + std::to_string(c.code) + ".spe");
        {
            auto doc = app.NewDataDocument();
            ASSERT_TRUE(doc->Open("", 3, 2, 2, c.code, path).ok());
            EXPECT_EQ(doc->GetParam(fits::doc_param::kColumns).ToInt32(), 3);
            EXPECT_EQ(doc->GetParam(fits::doc_param::kRows).ToInt32(), 2);
            fits::Frame frame(c.element, 3, 2);
            frame.Set(0, 0, c.low);
            frame.Set(2, 1, c.high);
            frame.Set(1, 0, 7);
            ASSERT_TRUE(doc->PutFrame(2, frame).ok());
            ASSERT_TRUE(doc->Refresh().ok());
        }
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(path, 0, 0, 0, 0, "").ok());
        EXPECT_EQ(doc->GetParam(fits::doc_param::kDataType).ToInt32(), c.code);
        EXPECT_EQ(doc->GetParam(fits::doc_param::kFrames).ToInt32(), 2);
        fits::Frame frame;
        ASSERT_TRUE(doc->GetFrame(1, frame).ok());
        EXPECT_EQ(frame.At(2, 1), 0);
        ASSERT_TRUE(doc->GetFrame(2, frame).ok());
        EXPECT_EQ(frame.Type(), c.element);
        EXPECT_EQ(frame.At(0, 0), c.low);
        EXPECT_EQ(frame.At(1, 0), 7);
        EXPECT_EQ(frame.At(2, 1), c.high);
        EXPECT_EQ(frame.At(1, 1), 0);
    }
    auto doc = app.NewDataDocument();
    EXPECT_FALSE(doc->Open("", 3, 2, 1, 4, dir / "bad.spe").ok());
    EXPECT_FALSE(doc->Open("", 3, 2, 1, 0, dir / "bad.spe").ok());
    EXPECT_FALSE(doc->Open("", 0, 2, 1, 1, dir / "bad.spe").ok());
    EXPECT_FALSE(doc->Open("", 70000, 2, 1, 1, dir / "bad.spe").ok());
    EXPECT_FALSE(doc->Open("", 3, 2, 1, 1, dir / "no/such/folder/x.spe").ok());
}

constexpr std::uint16_t kV3Columns = 3, kV3Rows = 3;  // region 1: 3 x 1, region 2: 3 x 2
constexpr std::int32_t kV3Frames = 2;

// An SPE 3.0 file: per-frame metadata behind each frame, two regions stacked in a frame;
// sample (c, r) of frame f (from 0) is 1000 * (f + 1) + r * 3 + c + 40000.
std::string WriteV3File(const TempDir& dir, const std::string& exposure_ms = "250") {
    const std::uint16_t xdim = kV3Columns, ydim = kV3Rows;
    const std::int32_t frames = kV3Frames;
    const int frame_size = xdim * ydim * 2, stride = frame_size + 32;
    std::string bytes(4100, '\0');
    auto put = [&](std::size_t offset, const void* v, std::size_t n) {
        std::memcpy(bytes.data() + offset, v, n);
    };
    std::int16_t datatype = 3;
    float version = 3.0f;
    std::uint32_t identity = 0x01234567;
    put(42, &xdim, 2);
    put(656, &ydim, 2);
    put(108, &datatype, 2);
    put(1446, &frames, 4);
    put(1992, &version, 4);
    put(2996, &identity, 4);
    for (int f = 0; f < frames; ++f) {
        for (std::uint16_t i = 0; i < xdim * ydim; ++i) {
            std::uint16_t v = static_cast<std::uint16_t>(1000 * (f + 1) + i + 40000);
            bytes.append(reinterpret_cast<char*>(&v), 2);
        }
        bytes.append(32, '\x7f');  // time stamps
    }
    std::uint64_t footer = bytes.size();
    put(678, &footer, 8);
    bytes +=
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<SpeFormat version=\"3.0\" xmlns=\"http://www.example.org/spe/3\">"
        "<DataFormat><DataBlock type=\"Frame\" version=\"3.0\" count=\"2\" "
        "pixelFormat=\"MonochromeUnsigned16\" size=\"18\" stride=\"50\">"
        "<DataBlock type=\"Region\" count=\"1\" width=\"3\" height=\"1\" size=\"6\" "
        "stride=\"6\"/>"
        "<DataBlock type=\"Region\" count=\"1\" width=\"3\" height=\"2\" size=\"12\" "
        "stride=\"12\"/></DataBlock></DataFormat>"
        "<DataHistories><DataHistory><Origin><Experiment><Devices><Cameras><Camera>"
        "<ShutterTiming><ExposureTime>" +
        exposure_ms +
        "</ExposureTime></ShutterTiming>"
        "</Camera></Cameras></Devices></Experiment></Origin></DataHistory></DataHistories>"
        "</SpeFormat>";
    EXPECT_EQ(stride, 50);
    std::string path = dir / "v3.spe";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// An exposure time that is no number of milliseconds of 0 or more is read as 0, and the
// document says so, naming the file.
TEST(SpeVersion3, UnusableExposureTimeIsNamed) {
    const struct {
        std::string stored, exposure;
    } cases[] = {{"250", "0.25"}, {"0", "0"},  {"NaN", "0"}, {"inf", "0"},
                 {"1,5", "0"},    {"-3", "0"}, {"", "0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        TempDir dir;
        const std::string path = WriteV3File(dir, c.stored);
        Application app;
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(path, 0, 0, 0, 0, "").ok());
        EXPECT_EQ(doc->GetParam(fits::doc_param::kExposure).ToText(), c.exposure);
        const std::string notice = doc->Notice();
        if (c.exposure != "0" || c.stored == "0") {
            EXPECT_EQ(notice, "");
        } else {
            EXPECT_EQ(notice.rfind(path + ": ExposureTime \"" + c.stored + "\"", 0), 0u) << notice;
        }
    }
    // A 2.x header's exposure (the f32 at offset 10) that is no number is said, too.
    const std::pair<float, const char*> stored2x[] = {{std::nanf(""), "not a number"},
                                                      {-INFINITY, "infinite"}};
    for (const auto& [stored, said] : stored2x) {
        TempDir dir;
        std::ifstream in(Sample("noise_uint16_1020x1x5.spe"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::memcpy(bytes.data() + 10, &stored, sizeof stored);
        const std::string path = dir / "nan.spe";
        std::ofstream(path, std::ios::binary) << bytes;
        Application app;
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(path, 0, 0, 0, 0, "").ok());
        EXPECT_EQ(doc->GetParam(fits::doc_param::kExposure).ToText(), "0");
        EXPECT_NE(doc->Notice().find(std::string("exposure time is ") + said), std::string::npos)
            << doc->Notice();
    }
}

TEST(SpeVersion3, TwoRegionsAndStrideReadBack) {
    TempDir dir;
    const std::string path = WriteV3File(dir);
    const int xdim = kV3Columns, ydim = kV3Rows, frames = kV3Frames;

    Application app;
    auto doc = app.NewDataDocument();
    auto status = doc->Open(path, 0, 0, 0, 0, "");
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_EQ(doc->GetParam(fits::doc_param::kFrames).ToInt32(), 2);
    EXPECT_EQ(doc->GetParam(fits::doc_param::kDataType).ToInt32(), 6);
    EXPECT_EQ(doc->GetParam(fits::doc_param::kExposure).ToText(), "0.25");
    fits::Frame frame;
    for (int f = 0; f < frames; ++f) {
        ASSERT_TRUE(doc->GetFrame(f + 1, frame).ok());
        for (int r = 0; r < ydim; ++r)
            for (int c = 0; c < xdim; ++c)
                EXPECT_EQ(static_cast<std::uint16_t>(frame.At(c, r)),
                          1000 * (f + 1) + r * xdim + c + 40000);
    }
}

// Every row range of every frame, read through the document's row reader, is the same slice
// of the frame GetFrame gives: in a 2.5 file, and across the regions and per-frame metadata
// of a 3.0 file.
TEST(SpeRowRanges, EveryRangeIsTheSliceOfTheWholeFrame) {
    TempDir dir;
    const std::string v25 = dir / "v25.spe";
    {
        auto file = SpeFile::Create(v25, 5, 4, 3, kSpeInt32);
        ASSERT_TRUE(file.ok()) << file.message();
        fits::Frame frame(fits::ElementType::kInt32, 5, 4);
        for (int f = 0; f < 3; ++f) {
            for (int i = 0; i < 20; ++i)
                frame.Elements<std::int32_t>()[static_cast<std::size_t>(i)] = 100 * f - i;
            ASSERT_TRUE(file.value()->WriteFrame(f, frame).ok());
        }
    }
    for (const std::string& path : {v25, WriteV3File(dir)}) {
        SCOPED_TRACE(path);
        Application app;
        auto doc = app.NewDataDocument();
        ASSERT_TRUE(doc->Open(path, 0, 0, 0, 0, "").ok());
        fits::RowRangeReader* rows = doc->RowReader();
        ASSERT_NE(rows, nullptr);
        const std::int64_t frames = *doc->GetParam(fits::doc_param::kFrames).ToInt32();
        fits::Frame frame;
        for (std::int64_t f = 1; f <= frames; ++f) {
            ASSERT_TRUE(doc->GetFrame(f, frame).ok());
            auto layout = rows->Layout(f);
            ASSERT_TRUE(layout.ok());
            ASSERT_EQ(layout->rows, frame.Rows());
            ASSERT_EQ(layout->type, frame.Type());
            const auto row = static_cast<std::size_t>(frame.Columns() * ElementSize(frame.Type()));
            for (std::int64_t first = 0; first <= frame.Rows(); ++first) {
                for (std::int64_t count = 0; first + count <= frame.Rows(); ++count) {
                    std::vector<std::uint8_t> got(static_cast<std::size_t>(count) * row, 0xAB);
                    ASSERT_TRUE(rows->ReadRows(f, first, count, got).ok());
                    auto whole =
                        frame.Bytes().subspan(static_cast<std::size_t>(first) * row, got.size());
                    EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin()))
                        << "frame " << f << " rows " << first << "+" << count;
                }
            }
        }
    }
}

// Ranges outside the frame, frames that do not exist and buffers of the wrong size are
// refused with the file named; a file cut short after it was opened fails where the data
// end.
TEST(SpeRowRanges, BadRangesAndTruncatedFilesFailCleanly) {
    TempDir dir;
    const std::string path = dir / "cut.spe";
    ASSERT_TRUE(SpeFile::Create(path, 4, 3, 2, kSpeInt16).ok());
    auto file = SpeFile::Open(path);
    ASSERT_TRUE(file.ok());
    SpeFile& spe = *file.value();
    const struct {
        std::int64_t frame, first, count;
        std::size_t bytes;
        const char* says;
    } cases[] = {
        {0, -1, 1, 8, "do not exist"},          {0, 3, 1, 8, "do not exist"},
        {0, 2, 2, 16, "do not exist"},          {0, 0, -1, 0, "do not exist"},
        {2, 0, 1, 8, "frame 3 does not exist"}, {-1, 0, 1, 8, "frame 0 does not exist"},
        {0, 0, 2, 8, "buffer of 8 bytes"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out(c.bytes);
        Status s = spe.ReadRows(c.frame, c.first, c.count, out);
        ASSERT_FALSE(s.ok()) << c.frame << " " << c.first << "+" << c.count;
        EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
        EXPECT_EQ(s.message().rfind(path, 0), 0u) << s.message();
    }

    std::filesystem::resize_file(path, 4100 + 24 + 12);  // frame 2 ends after its first row + 4
    std::vector<std::uint8_t> row(8);
    EXPECT_TRUE(spe.ReadRows(1, 0, 1, row).ok());
    Status cut = spe.ReadRows(1, 1, 1, row);
    ASSERT_FALSE(cut.ok());
    EXPECT_NE(cut.message().find("frame 2: file ends early"), std::string::npos) << cut.message();
}

// The SPE datatypes against the application's data type codes and the frame elements.
TEST(SpeDatatype, CodesSizesAndElements) {
    const struct {
        std::int16_t datatype;
        std::int32_t code;
        int size;
        std::optional<fits::ElementType> element;
    } cases[] = {
        {kSpeFloat32, 3, 4, fits::ElementType::kFloat32},
        {kSpeInt32, 2, 4, fits::ElementType::kInt32},
        {kSpeInt16, 1, 2, fits::ElementType::kInt16},
        {kSpeUInt16, 6, 2, fits::ElementType::kInt16},
        {kSpeUInt8, 5, 1, fits::ElementType::kUInt8},
        {kSpeFloat64, 4, 8, std::nullopt},
        {kSpeUInt32, 7, 4, fits::ElementType::kInt32},
        {7, 4, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datatype);
        EXPECT_EQ(DatatypeToCode(c.datatype), c.code);
        EXPECT_EQ(DatatypeSize(c.datatype), c.size);
        EXPECT_EQ(DatatypeElement(c.datatype), c.element);
        if (c.element) {
            EXPECT_EQ(CodeToDatatype(c.code), c.datatype);
        }
    }
    for (std::int32_t code : {0, 4, 8, -1})
        EXPECT_FALSE(CodeToDatatype(code)) << code;
}

}  // namespace
}  // namespace orlix
