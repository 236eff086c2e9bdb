#include "fits/convert/fits_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "fits/automation/data_types.h"
#include "fits/header/header_text.h"

namespace fits {
namespace {

using testing_fakes::MemoryDocument;
using testing_fakes::RangeDocument;
using testing_fakes::RecordingReporter;
using testing_support::TempDir;

// A header with the values as given, each right-justified to column 30 as FITS requires
// (written raw, so that non-numbers stay); an empty value leaves its card out.
std::string Header(const std::string& bitpix, const std::string& n1, const std::string& n2,
                   const std::string& n3, const std::string& naxis = "3") {
    std::string text = "SIMPLE  =                    T\r\n";
    const std::pair<const char*, const std::string*> cards[] = {{"BITPIX  = ", &bitpix},
                                                                {"NAXIS   = ", &naxis},
                                                                {"NAXIS1  = ", &n1},
                                                                {"NAXIS2  = ", &n2},
                                                                {"NAXIS3  = ", &n3}};
    for (const auto& [card, value] : cards)
        if (!value->empty())
            text += card + std::string(20 - std::min<std::size_t>(20, value->size()), ' ') +
                    *value + "\r\n";
    return text;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[4];
    for (auto v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        out += b;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

TEST(BuildHeaderBlock, SizesAndEndOffsets) {
    const struct {
        int cards;
        std::size_t size, end_at;
    } cases[] = {{0, 2880, 0},
                 {35, 2880, 2800},
                 {36, 5760, 2880},
                 {72, 8640, 5760},
                 {400, 31680, 32000 - 0}};
    for (const auto& c : cases) {
        std::string text;
        for (int i = 0; i < c.cards; ++i)
            text.append("C").append(std::to_string(i)).append("\r\n");
        std::string block = BuildHeaderBlock(text);
        EXPECT_EQ(block.size(), c.cards == 400 ? 34560u : c.size) << c.cards;
        EXPECT_EQ(block.substr(static_cast<std::size_t>(c.cards) * 80, 3), "END");
        EXPECT_EQ(block.find_first_not_of(' ', static_cast<std::size_t>(c.cards) * 80 + 3),
                  std::string::npos);
    }
    std::string block = BuildHeaderBlock(std::string(100, 'L') + "\r\n\r\n   \r\nX");
    EXPECT_EQ(block.substr(0, 80), std::string(80, 'L'));
    EXPECT_EQ(block.substr(80, 80), std::string(80, ' '));  // a line of blanks stays a card
    EXPECT_EQ(block.substr(160, 80), "X" + std::string(79, ' '));
    EXPECT_EQ(block.substr(240, 3), "END");
}

TEST(FrameToBytes, BytePatternsPerBitpix) {
    const struct {
        const char* bitpix;
        ElementType type;
        double element;
        const char* bytes;
    } cases[] = {
        {"16", ElementType::kInt16, -2, "FF FE"},
        {"16", ElementType::kInt32, 258, "01 02"},
        {"32", ElementType::kInt32, 1, "00 00 00 01"},
        {"32", ElementType::kInt16, -1, "00 00 FF FF"},
        {"32", ElementType::kInt16, -32768, "00 00 80 00"},
        {"-32", ElementType::kFloat32, 1.0, "3F 80 00 00"},
        {"-32", ElementType::kFloat32, -2.0, "C0 00 00 00"},
        {"-32", ElementType::kInt16, -2, "C0 00 00 00"},
        {"8", ElementType::kInt16, 200, "C8"},
        {"8", ElementType::kUInt8, 255, "FF"},
        {"16", ElementType::kFloat32, 2.5, "00 02"},
        {"16", ElementType::kFloat32, 3.5, "00 04"},
        {"32", ElementType::kFloat32, -2.5, "FF FF FF FE"},
        // Elements that do not fit are clamped to the nearest representable value.
        {"16", ElementType::kInt32, 40000, "7F FF"},
        {"8", ElementType::kInt16, 300, "FF"},
        {"8", ElementType::kInt16, -5, "00"},
        {"16", ElementType::kFloat32, -1e9, "80 00"},
    };
    for (const auto& c : cases) {
        Frame frame(c.type, 1, 1);
        frame.Set(0, 0, c.element);
        RecordingReporter reporter;
        EXPECT_EQ(Hex(FrameToBytes(Header(c.bitpix, "1", "1", "1"), frame, reporter)), c.bytes)
            << c.bitpix << " " << c.element;
        EXPECT_TRUE(reporter.boxes.empty());
    }
}

TEST(FrameToBytes, OrderIsRowByRowColumnFastest) {
    Frame frame(ElementType::kUInt8, 3, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            frame.Set(c, r, 10 * r + c);
    RecordingReporter reporter;
    EXPECT_EQ(Hex(FrameToBytes(Header("8", "3", "2", "1"), frame, reporter)), "00 01 02 0A 0B 0C");
    EXPECT_TRUE(FrameToBytes(Header("8", "0", "2", "1"), frame, reporter).empty());
    EXPECT_TRUE(FrameToBytes(Header("8", "", "2", "1"), frame, reporter).empty());
    EXPECT_EQ(Hex(FrameToBytes(Header("64", "1", "1", "1"), frame, reporter)),
              "00 00 00 00 00 00 00 00");
    EXPECT_EQ(reporter.boxes, std::vector<std::string>{"FITS: Data type not supported."});
}

struct WriteCase {
    std::string header;
    std::int64_t columns, rows, frames;
    std::int64_t expected_size;  // -1: refused, nothing written
    std::string reason;          // part of the refusal
};

// Every header either gives a complete file or a reason, and a refused header leaves the
// existing target as it was: no zero-filled or header-only file replaces good data.
TEST(WriteFitsFile, SizesPaddingAndRefusals) {
    TempDir dir;
    const WriteCase cases[] = {
        {Header("16", "1440", "1", "1"), 1440, 1, 1, 5760, ""},
        {Header("8", "2879", "1", "1"), 2879, 1, 1, 2880 + 2880, ""},
        {Header("8", "2880", "1", "", "2"), 2880, 1, 2, 5760, ""},  // NAXIS 2: one frame
        {Header("8", "4", "1", "0"), 4, 1, 1, -1, "NAXIS3 is 0"},
        {Header("8", "4", "1", "-2"), 4, 1, 1, -1, "(NAXIS3) is -2"},
        {Header("", "4", "1", "1"), 4, 1, 1, -1, "(NAXIS) stands where FITS requires BITPIX"},
        {Header("x", "4", "1", "1"), 4, 1, 1, -1, "(BITPIX) has the value \"x\""},
        {Header("16.0", "4", "1", "1"), 4, 1, 1, -1, "(BITPIX) must have a whole number"},
        {Header("8", "", "1", "1"), 4, 1, 1, -1, "(NAXIS2) stands where FITS requires NAXIS1"},
        {Header("8", "4", "0", "1"), 4, 1, 1, -1, "NAXIS2 is 0"},
        {Header("64", "360", "1", "2"), 360, 1, 2, -1, "BITPIX 64 is not supported"},
        {Header("0", "360", "1", "2"), 360, 1, 2, -1, "BITPIX is one of 8, 16, 32, 64"},
        {Header("-2147483648", "4", "1", "1"), 4, 1, 1, -1, "is -2147483648; BITPIX is one of"},
        {"", 4, 1, 1, -1, "the header is empty"},
        {Header("8", "", "", "", "0"), 0, 0, 0, 2880, ""},  // no data
        {"\r\n  \r\n", 4, 1, 1, -1, "line 2 stands where FITS requires SIMPLE"},
        // Sizes beyond 32 bits: refused before anything is written, never a crash.
        {Header("32", "2147483647", "1", "1"), 4, 1, 1, -1, "rows of 8589934588 bytes"},
        {Header("-32", "600000000", "1", "1"), 4, 1, 1, -1, "rows of 2400000000 bytes"},
        {Header("16", "60000", "2147483647", "2147483647"), 4, 1, 1, -1, "more data than"},
        {Header("8", "65536", "65536", "100000"), 4, 1, 1, -1, "free"},
        // Axes from the fourth on multiply the frames, up to NAXIS; no axis card stands beyond.
        {Header("8", "2880", "1", "1", "4") + "NAXIS4  =                    2\r\n", 2880, 1, 2,
         8640, ""},
        {Header("8", "2880", "1", "1") + "NAXIS4  =                    1\r\n", 2880, 1, 1, -1,
         "(NAXIS4) stands beyond NAXIS = 3"},
        {Header("8", "4", "1", "1", "4") + "NAXIS4  =                    0\r\n", 4, 1, 1, -1,
         "NAXIS4 is 0"},
        {Header("8", "4", "1", "1", "5") + "NAXIS4  =                    2\r\n", 4, 1, 1, -1,
         "the header ends without NAXIS5"},
        // NAXIS and the axis cards must agree.
        {Header("8", "4", "1", "2", "2"), 4, 1, 2, -1, "(NAXIS3) stands beyond NAXIS = 2"},
        {Header("8", "4", "2", "1", "1"), 4, 2, 1, -1, "(NAXIS2) stands beyond NAXIS = 1"},
        {Header("8", "4", "1", ""), 4, 1, 1, -1, "the header ends without NAXIS3"},
        {Header("8", "4", "", "", "2"), 4, 1, 1, -1, "the header ends without NAXIS2"},
        {Header("16", "60000", "60000", "2147483647", "5") +
             "NAXIS4  =           2147483647\r\nNAXIS5  =           2147483647\r\n",
         4, 1, 1, -1, "more data than"},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        MemoryDocument doc;
        doc.params[doc_param::kFrames] = std::numeric_limits<std::int32_t>::max();
        for (std::int64_t f = 0; f < c.frames; ++f) {
            doc.frames.emplace_back(ElementType::kUInt8, c.columns, c.rows);
            doc.frames.back().Set(0, 0, 7 + static_cast<double>(f));
        }
        RecordingReporter reporter;
        std::string path = dir / ("out" + std::to_string(i++) + ".fit");
        std::ofstream(path) << "old";
        auto outcome = WriteFitsFile(c.header, doc, path, reporter);
        EXPECT_TRUE(reporter.boxes.empty());
        if (c.expected_size < 0) {
            ASSERT_FALSE(outcome.ok());
            EXPECT_NE(outcome.message().find(c.reason), std::string::npos) << outcome.message();
            EXPECT_EQ(outcome.message().rfind(path + ": ", 0), 0u) << outcome.message();
            EXPECT_EQ(ReadAll(path), "old");
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << outcome.message();
        std::string bytes = ReadAll(path);
        ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), c.expected_size);
        const std::size_t data = BuildHeaderBlock(c.header).size();
        if (c.frames > 0) {
            EXPECT_NE(bytes.substr(data, 4).find('\x07'), std::string::npos);
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
              static_cast<std::ptrdiff_t>(std::size(cases)));  // no temp files
}

// The largest row is allowed to the byte; one byte more is refused.
TEST(CheckDataLayout, RowLimitIsInclusive) {
    const std::int64_t limit = kMaxRowBytes;
    const struct {
        std::string bitpix;
        std::int64_t columns;
        bool ok;
    } cases[] = {
        {"8", limit, true},
        {"8", limit + 1, false},
        {"32", limit / 4, true},
        {"32", limit / 4 + 1, false},
    };
    for (const auto& c : cases) {
        auto layout = CheckDataLayout(Header(c.bitpix, std::to_string(c.columns), "1", "1"), "x");
        EXPECT_EQ(layout.ok(), c.ok) << c.bitpix << " " << c.columns << " " << layout.message();
        if (layout.ok()) {
            EXPECT_EQ(layout->row_bytes, limit);
        }
    }
}

// Unsigned data are written with the offset only for exactly their BITPIX (16 or 32), BZERO
// (32768 or 2147483648) and a document of that data type.
TEST(IsUnsignedOffset, NeedsAllThreeExactly) {
    const struct {
        std::string header;
        std::int32_t code;
        bool offset;
    } cases[] = {
        {Header("16", "1", "1", "1") + "BZERO   = 32768\r\n", 6, true},
        {Header("16", "1", "1", "1") + "BZERO   = 32768.0\r\n", 6, true},
        {Header("16", "1", "1", "1") + "BZERO   = 3.2768D4\r\n", 6, true},
        {Header("16", "1", "1", "1") + "BZERO   = 32767\r\n", 6, false},
        {Header("16", "1", "1", "1") + "BZERO   = 32769\r\n", 6, false},
        {Header("16", "1", "1", "1"), 6, false},
        {Header("32", "1", "1", "1") + "BZERO   = 32768\r\n", 6, false},
        {Header("16", "1", "1", "1") + "BZERO   = 32768\r\n", 1, false},
        {Header("32", "1", "1", "1") + "BZERO   = 2147483648\r\n", 7, true},
        {Header("16", "1", "1", "1") + "BZERO   = 32768\r\n", 7, false},
        {Header("32", "1", "1", "1") + "BZERO   = 2147483648\r\n", 2, false},
    };
    for (const auto& c : cases) {
        MemoryDocument doc;
        doc.params[doc_param::kDataType] = c.code;
        EXPECT_EQ(IsUnsignedOffset(c.header, doc), c.offset) << c.header << c.code;
    }
}

TEST(WriteFitsFile, KeepsOldFileOnFailure) {
    TempDir dir;
    const std::string path = dir / "run1.fit";
    std::ofstream(path) << "old";
    MemoryDocument doc;
    doc.params[doc_param::kFrames] = 3;
    for (int f = 0; f < 3; ++f)
        doc.frames.emplace_back(ElementType::kInt16, 2, 2);
    RecordingReporter reporter;
    ASSERT_TRUE(WriteFitsFile(Header("16", "2", "2", "3"), doc, path, reporter).ok());
    EXPECT_EQ(ReadAll(path).size(), 5760u);

    std::ofstream(path) << "old";
    doc.fail_at_frame = 2;  // the data file fails in the middle of the write
    auto failed = WriteFitsFile(Header("16", "2", "2", "3"), doc, path, reporter);
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(ReadAll(path), "old");

    doc.fail_at_frame = 0;
    auto too_many = WriteFitsFile(Header("16", "2", "2", "4"), doc, path, reporter);
    EXPECT_FALSE(too_many.ok());
    EXPECT_NE(too_many.message().find("header asks for 4 frames"), std::string::npos);
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    if (geteuid() != 0) {  // root writes into read-only folders
        chmod(dir.path().c_str(), 0555);
        EXPECT_FALSE(WriteFitsFile(Header("16", "2", "2", "1"), doc, path, reporter).ok());
        chmod(dir.path().c_str(), 0755);
    }
    auto no_folder = WriteFitsFile(Header("16", "2", "2", "1"), doc, dir / "none/x.fit", reporter);
    EXPECT_FALSE(no_folder.ok());
    EXPECT_NE(no_folder.message().find("cannot create"), std::string::npos);
}

TEST(WriteFitsFile, ClampedSamplesReportedOncePerFile) {
    TempDir dir;
    MemoryDocument doc;
    doc.params[doc_param::kFrames] = 2;
    for (int f = 0; f < 2; ++f) {
        doc.frames.emplace_back(ElementType::kInt32, 3, 1);
        doc.frames.back().Set(0, 0, 300);
        doc.frames.back().Set(1, 0, -1);
    }
    RecordingReporter reporter;
    auto outcome = WriteFitsFile(Header("8", "3", "1", "2"), doc, dir / "c.fit", reporter);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome->clamped, 4);
    ASSERT_EQ(reporter.warnings.size(), 1u);
    EXPECT_NE(reporter.warnings[0].find("4 samples"), std::string::npos);
}

// A header whose frames differ from the data file's says what is cut off and what is zero.
TEST(WriteFitsFile, WarnsWhatTheHeaderCutsOffOrFills) {
    TempDir dir;
    const struct {
        const char *columns, *rows, *frames;
        std::vector<std::string> said;  // in the warnings, in this order
    } cases[] = {
        {"3", "2", "2", {}},
        {"2", "2", "2", {"frames of 2 x 2, the data file's are 3 x 2; the data beyond"}},
        {"3", "1", "2", {"the data beyond the header's frame are left out"}},
        {"4", "3", "2", {"3 x 2; samples beyond the data file's frame are 0"}},
        {"2", "3", "2", {"left out; samples beyond the data file's frame are 0"}},
        {"3", "2", "1", {"asks for 1 of the data file's 2 frames; the others are left out"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.columns) + " x " + c.rows + " x " + c.frames);
        MemoryDocument doc;
        doc.params[doc_param::kFrames] = 2;
        for (int f = 0; f < 2; ++f)
            doc.frames.emplace_back(ElementType::kInt16, 3, 2);
        RecordingReporter reporter;
        auto outcome =
            WriteFitsFile(Header("16", c.columns, c.rows, c.frames), doc, dir / "w.fit", reporter);
        ASSERT_TRUE(outcome.ok()) << outcome.message();
        ASSERT_EQ(reporter.warnings.size(), c.said.size());
        for (std::size_t i = 0; i < c.said.size(); ++i)
            EXPECT_NE(reporter.warnings[i].find(c.said[i]), std::string::npos)
                << reporter.warnings[i];
    }
}

// Scaling cards the writer does not apply are said: readers would see other values than the
// data file's. BZERO 32768 on unsigned 16-bit data under BITPIX 16 is applied, so not said.
TEST(WriteFitsFile, ScalingCardsThatChangeTheValuesAreSaid) {
    TempDir dir;
    const struct {
        const char* cards;
        bool unsigned16;
        const char* said;  // "" for no warning
    } cases[] = {
        {"", false, ""},
        {"BSCALE  = 1.0\r\nBZERO   = 0\r\n", false, ""},
        {"BZERO   = 32768\r\n", true, ""},
        {"BZERO   = 32768\r\n", false, "the header's BZERO 32768 changes the values"},
        {"BSCALE  = 2.0\r\n", false, "the header's BSCALE 2.0 changes"},
        {"BSCALE  = 2.0D0\r\n", false, "the header's BSCALE 2.0D0 changes"},
        {"BZERO   = 3.2768D4\r\n", true, ""},
        {"BZERO   = 1000\r\nBSCALE  = 0.5\r\n", false, "BSCALE 0.5, BZERO 1000 change"},
        {"BLANK   = 1943\r\n", false, "BLANK 1943 changes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cards);
        MemoryDocument doc;
        doc.params[doc_param::kFrames] = 1;
        doc.params[doc_param::kDataType] = c.unsigned16 ? type_code::kUInt16 : type_code::kInt16;
        doc.frames.emplace_back(ElementType::kInt16, 3, 2);
        RecordingReporter reporter;
        const std::string header = Header("16", "3", "2", "1") + c.cards;
        ASSERT_TRUE(WriteFitsFile(header, doc, dir / "s.fit", reporter).ok());
        if (*c.said == '\0') {
            EXPECT_TRUE(reporter.warnings.empty());
            continue;
        }
        ASSERT_EQ(reporter.warnings.size(), 1u);
        EXPECT_NE(reporter.warnings[0].find(c.said), std::string::npos) << reporter.warnings[0];
    }
}

// Samples that do not fit BITPIX are clamped and counted at both ends, for every source
// type: unsigned 16-bit data under BITPIX 16 included (65535 must not wrap to -1).
TEST(WriteFitsFile, ClampsAndCountsAtBothEnds) {
    constexpr std::int32_t kUnsigned16 = 6, kSigned16 = 1;
    const struct {
        ElementType type;
        std::int32_t type_code;
        double value;
        const char* bitpix;
        std::string bytes;
        std::int64_t clamped;
    } cases[] = {
        {ElementType::kFloat32, 3, 1e10, "16", "7F FF", 1},
        {ElementType::kFloat32, 3, -1e10, "16", "80 00", 1},
        {ElementType::kFloat32, 3, 3e9, "32", "7F FF FF FF", 1},
        {ElementType::kFloat32, 3, 256, "8", "FF", 1},
        {ElementType::kFloat32, 3, 255.4, "8", "FF", 0},
        {ElementType::kInt16, kUnsigned16, 65535, "16", "7F FF", 1},
        {ElementType::kInt16, kUnsigned16, 32768, "16", "7F FF", 1},
        {ElementType::kInt16, kUnsigned16, 32767, "16", "7F FF", 0},
        {ElementType::kInt16, kUnsigned16, 65535, "8", "FF", 1},
        {ElementType::kInt16, kUnsigned16, 65535, "32", "00 00 FF FF", 0},
        {ElementType::kInt16, kSigned16, -1, "16", "FF FF", 0},
        {ElementType::kInt32, 2, 40000, "16", "7F FF", 1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " to BITPIX " + c.bitpix);
        MemoryDocument doc;
        doc.params[doc_param::kFrames] = 1;
        doc.params[doc_param::kDataType] = c.type_code;
        doc.frames.emplace_back(c.type, 1, 1);
        if (c.type == ElementType::kInt16 && c.value > 32767)
            doc.frames.back().Elements<std::int16_t>()[0] =
                static_cast<std::int16_t>(static_cast<std::int32_t>(c.value) - 65536);
        else
            doc.frames.back().Set(0, 0, c.value);
        RecordingReporter reporter;
        const std::string header = Header(c.bitpix, "1", "1", "1");
        auto outcome = WriteFitsFile(header, doc, dir / "c.fit", reporter);
        ASSERT_TRUE(outcome.ok()) << outcome.message();
        EXPECT_EQ(outcome->clamped, c.clamped);
        EXPECT_EQ(reporter.warnings.size(), c.clamped ? 1u : 0u);
        const std::string bytes = ReadAll(dir / "c.fit");
        const std::size_t data = BuildHeaderBlock(header).size();
        std::vector<std::uint8_t> sample(bytes.begin() + static_cast<std::ptrdiff_t>(data),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(data) +
                                             static_cast<std::ptrdiff_t>((c.bytes.size() + 1) / 3));
        EXPECT_EQ(Hex(sample), c.bytes);
    }
}

// More than 32,767 columns and frames, and more than 373 cards.
TEST(WriteFitsFile, NoOld16BitLimits) {
    TempDir dir;
    MemoryDocument doc;
    const int frames = 33000;
    doc.params[doc_param::kFrames] = frames;
    Frame wide(ElementType::kUInt8, 40000, 1);
    wide.Set(39999, 0, 9);
    doc.frames.assign(frames, Frame(ElementType::kUInt8, 1, 1));
    doc.frames[0] = wide;
    std::string header = Header("8", "40000", "1", "1");
    for (int i = 0; i < 400; ++i)
        InsertCard(header, "history", "card", ValueType::kNone, "", -1);
    RecordingReporter reporter;
    ASSERT_TRUE(WriteFitsFile(header, doc, dir / "wide.fit", reporter).ok());
    std::string bytes = ReadAll(dir / "wide.fit");
    const std::size_t data = BuildHeaderBlock(header).size();
    EXPECT_EQ(data, 408u * 80 / 2880 * 2880 + 2880);
    EXPECT_EQ(bytes[data + 39999], 9);

    std::string many = Header("8", "1", "1", std::to_string(frames));
    ASSERT_TRUE(WriteFitsFile(many, doc, dir / "many.fit", reporter).ok());
    EXPECT_EQ(ReadAll(dir / "many.fit").size(), 2880u + 34560u);
}

// Element values that exercise every conversion: both signs, values beyond each narrower
// type, halves and non-finite floats.
template <class T, class Make>
void Fill(Frame& frame, Make make) {
    auto elements = frame.Elements<T>();
    for (std::size_t i = 0; i < elements.size(); ++i)
        elements[i] = make(i, static_cast<std::uint32_t>(i) * 2654435761u);
}

void FillPattern(Frame& frame) {
    switch (frame.Type()) {
        case ElementType::kUInt8:
            return Fill<std::uint8_t>(frame, [](std::size_t, std::uint32_t v) {
                return static_cast<std::uint8_t>(v >> 24);
            });
        case ElementType::kInt16:
            return Fill<std::int16_t>(frame, [](std::size_t, std::uint32_t v) {
                return static_cast<std::int16_t>(v >> 16);
            });
        case ElementType::kInt32:
            return Fill<std::int32_t>(
                frame, [](std::size_t, std::uint32_t v) { return static_cast<std::int32_t>(v); });
        case ElementType::kFloat32:
            return Fill<float>(frame, [](std::size_t i, std::uint32_t v) {
                return i % 97 == 5   ? std::numeric_limits<float>::quiet_NaN()
                       : i % 89 == 7 ? -std::numeric_limits<float>::infinity()
                                     : static_cast<float>(static_cast<std::int32_t>(v)) / 8192.0f;
            });
    }
}

// Streaming rows through the write buffer gives the very bytes (and clamp count) of the
// whole-frame path, for every element type and BITPIX, for headers asking for more or fewer
// columns and rows than the frames have, and for frames larger than the write buffer; and it
// never reads more than about one write buffer at a time.
TEST(WriteFitsFile, RowRangeReadsGiveTheWholeFramePathsBytes) {
    TempDir dir;
    const ElementType kTypes[] = {ElementType::kUInt8, ElementType::kInt16, ElementType::kInt32,
                                  ElementType::kFloat32};
    const int kBitpix[] = {8, 16, 32, -32};
    const struct {
        std::int64_t columns, rows;  // of the frames
        std::int64_t naxis1, naxis2;
    } kShapes[] = {
        {5, 3, 5, 3},              // as the header says
        {5, 3, 7, 4},              // header wider and taller: zeros
        {5, 3, 3, 2},              // header narrower and shorter: the rest left out
        {1, 9, 1, 9},              // one column
        {1100, 1000, 1100, 1000},  // frames of 1 to 4.4 MB: several chunks
        {1100, 1000, 1101, 999},
    };
    // Large frames: samples as wide as, wider than and narrower than the elements.
    auto large_case = [](ElementType type, int bitpix) {
        return (type == ElementType::kInt16 && (bitpix == 16 || bitpix == 32)) ||
               (type == ElementType::kUInt8 && bitpix == -32) ||
               (type == ElementType::kFloat32 && bitpix == 16);
    };
    int i = 0;
    for (const auto& shape : kShapes) {
        for (ElementType type : kTypes) {
            for (int bitpix : kBitpix) {
                if (shape.columns > 1000 && !large_case(type, bitpix)) continue;
                SCOPED_TRACE(testing::Message() << shape.columns << "x" << shape.rows << " as "
                                                << shape.naxis1 << "x" << shape.naxis2 << " type "
                                                << static_cast<int>(type) << " BITPIX " << bitpix);
                MemoryDocument whole;
                RangeDocument ranged;
                for (auto* doc : {static_cast<MemoryDocument*>(&whole),
                                  static_cast<MemoryDocument*>(&ranged)}) {
                    doc->params[doc_param::kFrames] = 2;
                    for (int f = 0; f < 2; ++f) {
                        doc->frames.emplace_back(type, shape.columns, shape.rows);
                        FillPattern(doc->frames.back());
                    }
                    doc->frames[1].Set(0, 0, 1);  // frames differ
                }
                const std::string header =
                    Header(std::to_string(bitpix), std::to_string(shape.naxis1),
                           std::to_string(shape.naxis2), "2");
                RecordingReporter reporter;
                const std::string a = dir / ("whole" + std::to_string(i) + ".fit");
                const std::string b = dir / ("ranged" + std::to_string(i++) + ".fit");
                auto by_frame = WriteFitsFile(header, whole, a, reporter);
                auto by_rows = WriteFitsFile(header, ranged, b, reporter);
                ASSERT_TRUE(by_frame.ok() && by_rows.ok()) << by_rows.message();
                EXPECT_EQ(by_rows->clamped, by_frame->clamped);
                EXPECT_GT(ranged.reads, 0);
                EXPECT_LE(ranged.largest_read, 4 << 20);
                EXPECT_TRUE(ReadAll(a) == ReadAll(b));
                std::filesystem::remove(a);
                std::filesystem::remove(b);
            }
        }
    }
}

// Unsigned 16-bit data come out the same streamed as whole: offset by BZERO 32768, or clamped
// to BITPIX 16 without it.
TEST(WriteFitsFile, RowRangeReadsKeepTheUnsignedOffset) {
    TempDir dir;
    MemoryDocument whole;
    RangeDocument ranged;
    for (auto* doc :
         {static_cast<MemoryDocument*>(&whole), static_cast<MemoryDocument*>(&ranged)}) {
        doc->params[doc_param::kFrames] = 1;
        doc->params[doc_param::kDataType] = 6;
        doc->frames.emplace_back(ElementType::kInt16, 1100, 1000);
        FillPattern(doc->frames.back());
    }
    const std::string header = Header("16", "1100", "1000", "1") + "BZERO   = 32768\r\n";
    RecordingReporter reporter;
    ASSERT_TRUE(WriteFitsFile(header, whole, dir / "a.fit", reporter).ok());
    ASSERT_TRUE(WriteFitsFile(header, ranged, dir / "b.fit", reporter).ok());
    ASSERT_TRUE(
        WriteFitsFile(Header("16", "1100", "1000", "1"), ranged, dir / "c.fit", reporter).ok());
    EXPECT_GT(ranged.reads, 0);
    EXPECT_TRUE(ReadAll(dir / "a.fit") == ReadAll(dir / "b.fit"));
    EXPECT_FALSE(ReadAll(dir / "c.fit").substr(2880) == ReadAll(dir / "b.fit").substr(2880));

    // Without BZERO, unsigned values above 32767 are clamped, streamed or not.
    auto by_frame =
        WriteFitsFile(Header("16", "1100", "1000", "1"), whole, dir / "d.fit", reporter);
    ASSERT_TRUE(by_frame.ok());
    EXPECT_GT(by_frame->clamped, 0);
    auto by_rows =
        WriteFitsFile(Header("16", "1100", "1000", "1"), ranged, dir / "e.fit", reporter);
    ASSERT_TRUE(by_rows.ok());
    EXPECT_EQ(by_rows->clamped, by_frame->clamped);
    EXPECT_TRUE(ReadAll(dir / "d.fit") == ReadAll(dir / "e.fit"));
}

// A row that cannot be read fails the file: the old target stays, no partial file remains.
TEST(WriteFitsFile, FailedRowReadKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir / "run.fit";
    std::ofstream(path) << "old";
    RangeDocument doc;
    doc.params[doc_param::kFrames] = 2;
    doc.frames.assign(2, Frame(ElementType::kInt16, 2048, 1500));
    doc.fail_at_row = 1400;  // in the second chunk of the first frame
    RecordingReporter reporter;
    auto failed = WriteFitsFile(Header("16", "2048", "1500", "2"), doc, path, reporter);
    ASSERT_FALSE(failed.ok());
    EXPECT_NE(failed.message().find("row 1400 unreadable"), std::string::npos);
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace fits
