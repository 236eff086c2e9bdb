// The cards and extensions beyond the Standard header, read back with CFITSIO.
#include "fits/convert/metadata_cards.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"
#include "fits/convert/commands.h"
#include "fits/convert/fits_extensions.h"

namespace fits {
namespace {

using testing_fakes::MemoryDocument;
using testing_fakes::MemoryFactory;
using testing_fakes::RecordingReporter;
using testing_support::TempDir;

TEST(MetadataCards, NumbersFitTheValueFieldAndReadBack) {
    const double values[] = {149.85137939453125,
                             0.14861996471881866,
                             -1.2323117110075473e-06,
                             -9.425894833895933e-10,
                             1e300,
                             -2.2250738585072014e-308,
                             5.0,
                             0.1};
    for (double v : values) {
        std::string text = CardNumber(v);
        SCOPED_TRACE(text);
        EXPECT_LE(text.size(), 20u);
        double back = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(ec, std::errc());
        EXPECT_EQ(end, text.data() + text.size());
        EXPECT_NEAR(back, v, std::abs(v) * 1e-13);
    }
}

// A comment longer than a COMMENT card's 72 text columns goes on over several cards, each
// 80 columns at most, cut after a blank where there is one, nothing lost.
TEST(MetadataCards, LongCommentsSplitAtColumn80) {
    const std::string text(72 * 2 + 5, 'c');
    const std::pair<std::string, std::vector<std::size_t>> cases[] = {
        {std::string(72, 'a'), {72}},
        {std::string(73, 'b'), {72, 1}},
        {text, {72, 72, 5}},
        {std::string(70, 'a') + " 488nm x", {71, 7}},
    };
    for (const auto& [comment, pieces] : cases) {
        DocumentMetadata metadata;
        metadata.comments = {comment};
        std::vector<std::string> cards;
        AppendFactCards(cards, metadata);
        ASSERT_EQ(cards.size(), pieces.size()) << comment.size();
        std::string joined;
        for (std::size_t i = 0; i < cards.size(); ++i) {
            EXPECT_EQ(cards[i].rfind("COMMENT ", 0), 0u);
            EXPECT_EQ(cards[i].size(), 8 + pieces[i]);
            joined += cards[i].substr(8);
        }
        EXPECT_EQ(joined, comment);
    }
}

TEST(MetadataCards, AxisCardsByKindOfCalibration) {
    struct Case {
        std::vector<double> nm;
        std::optional<double> start, step;
        const char* ctype;  // nullptr: no cards
        bool table;
    };
    const Case cases[] = {
        {{500, 500.5, 501}, 500, 0.5, "CTYPE1  = 'WAVE    '", false},
        {{500, 500.5, 502}, {}, {}, "CTYPE1  = 'WAVE-TAB'", true},
        {{}, {}, {}, nullptr, false},
    };
    for (const Case& c : cases) {
        RegionMetadata region;
        region.width = 3;
        region.wavelengths = c.nm;
        region.linear_start = c.start;
        region.linear_step = c.step;
        std::vector<std::string> cards;
        EXPECT_EQ(AppendAxisCards(cards, region, 2), c.table);
        if (!c.ctype) {
            EXPECT_TRUE(cards.empty());
            continue;
        }
        ASSERT_FALSE(cards.empty());
        EXPECT_EQ(cards[0].substr(0, 20), c.ctype);
        const std::string all = JoinCards(cards);
        EXPECT_EQ(all.find("PV1_1   =                    2") != std::string::npos, c.table);
        EXPECT_EQ(all.find("CDELT1  =                  0.5") != std::string::npos, !c.table);
    }
}

TEST(MetadataCards, UnsignedOffsetCardsFollowTheAxes) {
    std::vector<std::string> cards = {
        "SIMPLE  =                    T", "BITPIX  =                   32",
        "NAXIS   =                    3", "NAXIS1  =                    4",
        "NAXIS2  =                    1", "NAXIS3  =                    1",
        "EXPTIME =                   1."};
    ASSERT_TRUE(UseUnsignedOffset(cards, 16));
    ASSERT_EQ(cards.size(), 9u);
    EXPECT_EQ(cards[1].substr(0, 30), "BITPIX  =                   16");
    EXPECT_EQ(cards[6].substr(0, 30), "BZERO   =                32768");
    EXPECT_EQ(cards[7].substr(0, 30), "BSCALE  =                    1");
    EXPECT_EQ(cards[8].substr(0, 7), "EXPTIME");
    std::vector<std::string> none = {"COMMENT nothing"};
    EXPECT_FALSE(UseUnsignedOffset(none, 16));
}

// A document of unsigned 16-bit samples (code 6): elements are 16-bit signed holding the
// same bits, so 40000 arrives as -25536.
MemoryDocument Unsigned16Document(std::int64_t columns) {
    MemoryDocument doc;
    doc.params = {{doc_param::kDataType, 6},
                  {doc_param::kColumns, static_cast<std::int32_t>(columns)},
                  {doc_param::kRows, 1},
                  {doc_param::kFrames, 1},
                  {doc_param::kExposure, 1.0f}};
    Frame frame(ElementType::kInt16, columns, 1);
    const std::uint16_t values[] = {0, 1, 32767, 32768, 40000, 65535};
    for (std::int64_t c = 0; c < columns; ++c) {
        auto bits = static_cast<std::int16_t>(values[c % 6]);
        frame.Elements<std::int16_t>()[static_cast<std::size_t>(c)] = bits;
    }
    doc.frames = {frame};
    return doc;
}

std::vector<unsigned short> ReadUnsigned(const std::string& path, int hdu, int& bitpix) {
    fitsfile* f = nullptr;
    int status = 0, naxis = 0, type = 0;
    long naxes[3] = {};
    std::vector<unsigned short> values;
    if (fits_open_file(&f, path.c_str(), READONLY, &status)) return values;
    fits_movabs_hdu(f, hdu, &type, &status);
    fits_get_img_param(f, 3, &bitpix, &naxis, naxes, &status);
    values.resize(static_cast<std::size_t>(naxes[0] * naxes[1] * naxes[2]));
    long first[3] = {1, 1, 1};
    fits_read_pix(f, TUSHORT, first, static_cast<LONGLONG>(values.size()), nullptr, values.data(),
                  nullptr, &status);
    fits_close_file(f, &status);
    if (status) values.clear();
    return values;
}

TEST(MetadataCards, BzeroStoresUnsigned16InHalfTheSpace) {
    TempDir dir;
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    RecordingReporter reporter;
    for (bool bzero : {false, true}) {
        MemoryDocument doc = Unsigned16Document(1440);
        BuildStandardHeader(context, &doc, "");
        const std::string path = dir / (bzero ? "b.fit" : "p.fit");
        auto outcome = WriteWithOptions(context, reporter, doc, path, {false, bzero, false});
        ASSERT_TRUE(outcome.ok()) << outcome.message();
        EXPECT_EQ(std::filesystem::file_size(path), bzero ? 5760u : 8640u);
        int bitpix = 0;
        auto values = ReadUnsigned(path, 1, bitpix);
        EXPECT_EQ(bitpix, bzero ? SHORT_IMG : LONG_IMG);
        ASSERT_EQ(values.size(), 1440u);
        const unsigned short want[] = {0, 1, 32767, 32768, 40000, 65535};
        for (std::size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(values[i], want[i % 6]) << i;
    }
    // Signed 16-bit data are left alone: no BZERO.
    MemoryDocument signed_doc = Unsigned16Document(6);
    signed_doc.params[doc_param::kDataType] = 1;
    BuildStandardHeader(context, &signed_doc, "");
    ASSERT_TRUE(
        WriteWithOptions(context, reporter, signed_doc, dir / "s.fit", {false, true, false}).ok());
    EXPECT_EQ(store.Text().find("BZERO"), std::string::npos);
}

MemoryDocument TwoRegionDocument() {
    MemoryDocument doc = Unsigned16Document(6);
    doc.params[doc_param::kFrames] = 2;
    doc.params[doc_param::kRows] = 3;
    RegionMetadata a, b;
    a.width = 6, a.height = 1, b.width = 4, b.height = 2;
    a.wavelengths = {1, 2, 3, 4, 5, 6};
    a.linear_start = 1, a.linear_step = 1;
    b.wavelengths = {10, 20, 40, 80};
    b.xbinning = 2;
    doc.metadata.regions = {a, b};
    doc.metadata.comments = {"first line"};
    doc.metadata.notes = {"something left out"};
    for (int f = 0; f < 2; ++f) {
        Frame ra(ElementType::kInt16, 6, 1), rb(ElementType::kInt16, 4, 2);
        for (int k = 0; k < 6; ++k)
            ra.Set(k, 0, f * 100 + k);
        for (int k = 0; k < 8; ++k)
            rb.Set(k % 4, k / 4, f * 100 + 50 + k);
        doc.region_frames.push_back({ra, rb});
    }
    return doc;
}

TEST(MetadataCards, RegionsOfDifferentWidthsBecomeImageExtensions) {
    TempDir dir;
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    for (const ScienceOptions& options :
         {ScienceOptions{false, false, true}, ScienceOptions{true, true, true}}) {
        RecordingReporter reporter;
        MemoryDocument doc = TwoRegionDocument();
        BuildStandardHeader(context, &doc, "");
        const std::string path = dir / "r.fit";
        auto outcome = WriteWithOptions(context, reporter, doc, path, options);
        ASSERT_TRUE(outcome.ok()) << outcome.message();
        EXPECT_EQ(reporter.warnings.size(), options.metadata ? 1u : 0u);
        std::string verify =
            "fitsverify '" + path + "' | grep -q 'found 0 warning(s) and 0 error(s)'";
        EXPECT_EQ(std::system(verify.c_str()), 0);

        fitsfile* f = nullptr;
        int status = 0, hdus = 0, naxis = -1;
        ASSERT_EQ(fits_open_file(&f, path.c_str(), READONLY, &status), 0);
        fits_get_num_hdus(f, &hdus, &status);
        EXPECT_EQ(hdus, options.metadata ? 4 : 3);  // primary, two regions, one lookup table
        fits_get_img_dim(f, &naxis, &status);
        EXPECT_EQ(naxis, 0);
        char value[FLEN_VALUE];
        int type = 0;
        fits_movabs_hdu(f, 2, &type, &status);
        fits_read_key(f, TSTRING, "EXTNAME", value, nullptr, &status);
        EXPECT_STREQ(value, "REGION1");
        fits_movabs_hdu(f, 3, &type, &status);
        EXPECT_EQ(fits_read_key(f, TSTRING, "CTYPE1", value, nullptr, &status) == 0,
                  options.metadata);
        if (options.metadata) {
            EXPECT_STREQ(value, "WAVE-TAB");
        }
        status = 0;
        fits_close_file(f, &status);
        EXPECT_EQ(store.Text().find("COMMENT first line") != std::string::npos, options.metadata);
        for (int r = 0; r < 2; ++r) {
            int bitpix = 0;
            auto values = ReadUnsigned(path, 2 + r, bitpix);
            EXPECT_EQ(bitpix, options.bzero ? SHORT_IMG : LONG_IMG);
            ASSERT_EQ(values.size(), r == 0 ? 12u : 16u);
            const std::size_t per = r == 0 ? 6 : 8;
            for (std::size_t i = 0; i < values.size(); ++i)
                EXPECT_EQ(values[i], (i / per) * 100 + (r == 0 ? 0 : 50) + i % per);
        }
    }
}

// Regions of one width (sensor rows 1-2 and 5-5): stacked, the primary header says which
// image rows hold which region and where it lies; with --regions each is its own image with
// its DETSEC, whatever the widths. Each row: options, HDUs, then HDU and "KEYWORD=value".
TEST(MetadataCards, EveryRegionSaysWhereItLiesOnTheSensor) {
    TempDir dir;
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    const std::tuple<ScienceOptions, int, std::vector<std::pair<int, std::string>>> cases[] = {
        {{}, 1, {{1, "ROWS1=1:2"}, {1, "DETSEC1=[1:4,1:2]"}, {1, "DETSEC2=[1:4,5:5]"}}},
        {{false, false, true}, 3, {{2, "DETSEC=[1:4,1:2]"}, {3, "DETSEC=[1:4,5:5]"}}},
    };
    for (const auto& [options, hdus, keys] : cases) {
        MemoryDocument doc = Unsigned16Document(4);
        doc.params[doc_param::kRows] = 3;
        doc.frames = {Frame(ElementType::kInt16, 4, 3)};
        doc.metadata.regions.resize(2);
        doc.metadata.regions[0] = {4, 2, 1, 1, RegionMetadata::Section{1, 4, 1, 2}, {}, {}, {}};
        doc.metadata.regions[1] = {4, 1, 1, 1, RegionMetadata::Section{1, 4, 5, 5}, {}, {}, {}};
        doc.region_frames = {{Frame(ElementType::kInt16, 4, 2), Frame(ElementType::kInt16, 4, 1)}};
        RecordingReporter reporter;
        BuildStandardHeader(context, &doc, "");
        ASSERT_TRUE(WriteWithOptions(context, reporter, doc, dir / "d.fit", options).ok());
        fitsfile* f = nullptr;
        int status = 0, n = 0, type = 0;
        ASSERT_EQ(fits_open_file(&f, (dir / "d.fit").c_str(), READONLY, &status), 0);
        EXPECT_EQ(fits_get_num_hdus(f, &n, &status), 0);
        EXPECT_EQ(n, hdus);
        for (const auto& [hdu, key] : keys) {
            char value[FLEN_VALUE] = "";
            const std::string keyword = key.substr(0, key.find('='));
            fits_movabs_hdu(f, hdu, &type, &status);
            fits_read_key(f, TSTRING, keyword.c_str(), value, nullptr, &status);
            EXPECT_EQ(keyword + "=" + value, key) << "HDU " << hdu;
            status = 0;
        }
        fits_close_file(f, &status);
    }
}

// A card the header already has (from the additional header file, or the DATE-OBS of a run)
// stays the only one of its keyword; comments are always added.
TEST(MetadataCards, CardsTheHeaderHasAreNotRepeated) {
    TempDir dir;
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    RecordingReporter reporter;
    MemoryDocument doc = Unsigned16Document(6);
    doc.metadata.regions.resize(1);
    doc.metadata.regions[0].width = 6;
    doc.metadata.regions[0].xbinning = 2;
    doc.metadata.time = ObservationTime{"2020-01-02T03:04:05", true, "UTC"};
    doc.metadata.temperature_setpoint = -40;
    doc.metadata.comments = {"note"};
    BuildStandardHeader(context, &doc, "");
    SetHeaderText(store, store.Text() + "DATE-OBS= '1999-12-31'\r\nCOMMENT site\r\n");
    ASSERT_TRUE(WriteWithOptions(context, reporter, doc, dir / "d.fit", {true, false, false}).ok());
    const std::string text = store.Text();
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("DATE-OBS="), 1u);
    EXPECT_NE(text.find("DATE-OBS= '1999-12-31'"), std::string::npos);
    EXPECT_EQ(count("SET-TEMP="), 1u);
    EXPECT_EQ(count("XBINNING="), 1u);
    EXPECT_EQ(count("COMMENT "), 2u);
    ASSERT_EQ(reporter.warnings.size(), 1u);  // the header's card standing is said
    EXPECT_NE(reporter.warnings[0].find("the header's DATE-OBS stands instead of the data file's"),
              std::string::npos)
        << reporter.warnings[0];
}

// A wavelength axis is written whole or not at all: an added header's CRPIX1 or CTYPE1 beside
// the data file's table would give wrong wavelengths, so then neither axis cards nor the table
// are written, and the warning says so.
TEST(MetadataCards, AxisCardsInTheHeaderKeepTheDataFilesAxisOut) {
    TempDir dir;
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    for (const char* held : {"", "CRPIX1  = 7.0\r\n", "CTYPE1  = 'PIXEL'\r\n"}) {
        SCOPED_TRACE(held);
        RecordingReporter reporter;
        MemoryDocument doc = Unsigned16Document(4);
        doc.metadata.regions.resize(1);
        doc.metadata.regions[0].width = 4;
        doc.metadata.regions[0].wavelengths = {500, 510, 530, 560};  // not linear: a table
        BuildStandardHeader(context, &doc, "");
        SetHeaderText(store, store.Text() + held);
        const std::string path = dir / "a.fit";
        ASSERT_TRUE(WriteWithOptions(context, reporter, doc, path, {true, false, false}).ok());
        const std::string text = store.Text();
        const bool axis = std::string(held).empty();
        EXPECT_EQ(text.find("WAVE-TAB") != std::string::npos, axis) << text;
        EXPECT_EQ(text.find("PS1_0") != std::string::npos, axis) << text;
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(bytes.find("XTENSION= 'BINTABLE'") != std::string::npos, axis);
        EXPECT_EQ(reporter.warnings.size(), axis ? 0u : 1u);
        if (!axis) {
            EXPECT_NE(reporter.warnings[0].find("wavelength axis is not written"),
                      std::string::npos)
                << reporter.warnings[0];
        }
    }
}

TEST(MetadataCards, RegionsOfDifferentWidthsRefusedWithoutTheOption) {
    TempDir dir;
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory};
    RecordingReporter reporter;
    MemoryDocument doc = TwoRegionDocument();
    BuildStandardHeader(context, &doc, "");
    auto outcome = WriteWithOptions(context, reporter, doc, dir / "r.fit", {true, false, false});
    ASSERT_FALSE(outcome.ok());
    EXPECT_NE(outcome.message().find("(6, 4 columns)"), std::string::npos) << outcome.message();
    EXPECT_NE(outcome.message().find("--regions"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "r.fit"));
}

}  // namespace
}  // namespace fits
