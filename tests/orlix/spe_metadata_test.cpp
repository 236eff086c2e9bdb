#include "orlix/spe_metadata.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>

#include "orlix/application.h"
#include "orlix/spe_file.h"
#include "test_support.h"

namespace orlix {
namespace {

using testing_support::Sample;
using testing_support::Spe3;
using testing_support::TempDir;
using testing_support::WriteSpe3;

TEST(SpeMetadata, DateAndTimesOfA2xHeader) {
    struct Case {
        const char *date, *local, *utc;
        const char* iso;  // nullptr: no time
        bool utc_flag;
    };
    const Case cases[] = {
        {"14Jul2015", "172717", "152717", "2015-07-14T15:27:17", true},
        // Local 00:20 is UTC 23:00 of the day before (zone +01:20).
        {"29Mar2011", "002000", "230000", "2011-03-28T23:00:00", true},
        // Local 20:00 is UTC 02:00 of the next day, also across the year.
        {"31Dec2020", "200000", "020000", "2021-01-01T02:00:00", true},
        {"29Feb2024", "", "101112", "2024-02-29T10:11:12", true},
        {"02Jul2018", "094615 ", "", "2018-07-02T09:46:15", false},
        {"01Mar2024", "0930", "", "2024-03-01", false},
        {"", "101112", "101112", nullptr, false},
        {"30Feb2020", "101112", "", nullptr, false},
        {"14Jux2015", "101112", "", nullptr, false},
        {"14Jul2015", "256000", "9a0000", "2015-07-14", false},
    };
    for (const Case& c : cases) {
        auto time = SpeDateTime(c.date, c.local, c.utc);
        SCOPED_TRACE(std::string(c.date) + " " + c.local + " " + c.utc);
        ASSERT_EQ(time.has_value(), c.iso != nullptr);
        if (!time) continue;
        EXPECT_EQ(time->iso, c.iso);
        EXPECT_EQ(time->utc, c.utc_flag);
        EXPECT_FALSE(time->comment.empty());
    }
}

TEST(SpeMetadata, CreatedTimeWithOffsetBecomesUtc) {
    struct Case {
        const char* text;
        const char* iso;
        bool utc;
    };
    const Case cases[] = {
        {"2024-03-05T23:30:00.1234567-06:00", "2024-03-06T05:30:00.123", true},
        {"2023-12-31T23:59:59Z", "2023-12-31T23:59:59", true},
        {"2024-03-01T01:00:00.5+05:30", "2024-02-29T19:30:00.500", true},
        {"2024-01-01T00:00:00", "2024-01-01T00:00:00", false},
        // A leap second is kept; a year a FITS date cannot hold gives no time.
        {"2016-12-31T23:59:60Z", "2016-12-31T23:59:60", true},
        {"2016-12-31T23:59:60.5+01:00", "2016-12-31T22:59:60.500", true},
        {"9999-12-31T23:59:59-14:00", nullptr, true},
        {"0001-01-01T00:00:00+14:00", "0000-12-31T10:00:00", true},
        {"2024-13-01T00:00:00Z", nullptr, false},
        {"2024-01-01T00:00:00+5", nullptr, false},
        {"2024-01-01T00:00:00.Z", nullptr, false},
        {"yesterday", nullptr, false},
        {"", nullptr, false},
    };
    for (const Case& c : cases) {
        auto time = IsoCreated(c.text);
        SCOPED_TRACE(c.text);
        ASSERT_EQ(time.has_value(), c.iso != nullptr);
        if (!time) continue;
        EXPECT_EQ(time->iso, c.iso);
        EXPECT_EQ(time->utc, c.utc);
    }
}

TEST(SpeMetadata, CalibrationUnitsBecomeWavelengths) {
    struct Case {
        double value;
        std::uint8_t unit;
        double laser;
        double nm;  // < 0: none
    };
    const Case cases[] = {
        {532.1, 4, 0, 532.1}, {532.1, 0, 0, 532.1}, {10000, 5, 0, 1000},
        {-5, 5, 0, -1},       {0, 6, 785, 785},     {1001.4, 6, 785, 851.9736},
        {1001.4, 6, 0, -1},   {20000, 6, 785, -1},  {3, 1, 785, -1},
        {3, 3, 785, -1},
    };
    for (const Case& c : cases) {
        auto nm = ToWavelength(c.value, c.unit, c.laser);
        SCOPED_TRACE(std::to_string(c.value) + " unit " + std::to_string(c.unit));
        ASSERT_EQ(nm.has_value(), c.nm > 0);
        if (nm) {
            EXPECT_NEAR(*nm, c.nm, 1e-4);
        }
    }
}

TEST(SpeMetadata, PolynomialOverARegionOfInterestWithBinning) {
    struct Case {
        std::vector<double> coefficients;
        std::uint8_t unit;
        std::int64_t first_pixel, binning;
        std::vector<double> nm;  // empty: left out with a note
        bool linear;
    };
    const Case cases[] = {
        {{100, 2}, 4, 0, 1, {100, 102, 104}, true},
        // Columns of two pixels from chip pixel 10: centres 10.5, 12.5, 14.5.
        {{100, 2}, 4, 10, 2, {121, 125, 129}, true},
        {{0, 0, 1}, 4, 1, 1, {1, 4, 9}, false},
        {{100, 1}, 1, 0, 1, {}, false},
        {{-5, 1}, 4, 0, 1, {}, false},
        {{0, 1}, 6, 0, 1, {785, 785.0616, 785.1232}, false},
    };
    for (const Case& c : cases) {
        fits::RegionMetadata region;
        region.width = 3;
        std::vector<std::string> notes;
        ApplyPolynomial(XCalibration{true, c.unit, c.coefficients, 785}, c.first_pixel, c.binning,
                        region, notes);
        SCOPED_TRACE(::testing::Message() << "unit " << int(c.unit) << " c0 " << c.coefficients[0]);
        ASSERT_EQ(region.wavelengths.size(), c.nm.size());
        EXPECT_EQ(notes.empty(), !c.nm.empty());
        for (std::size_t i = 0; i < c.nm.size(); ++i)
            EXPECT_NEAR(region.wavelengths[i], c.nm[i], 1e-4);
        EXPECT_EQ(region.linear_step.has_value(), c.linear);
        if (c.linear) {
            EXPECT_DOUBLE_EQ(*region.linear_start, c.nm[0]);
            EXPECT_DOUBLE_EQ(*region.linear_step, c.nm[1] - c.nm[0]);
        }
    }
}

// The evidence for the 2.x pixel numbering: neon lines in the HeNe sample, their laboratory
// wavelengths (nm, in air) against the wavelength of the line's centroid column.
TEST(SpeMetadata, NeonLinesSitAtTheirWavelengthsWithZeroBasedPixels) {
    auto file = SpeFile::Open(Sample("hene_int32_1340x1.spe"));
    ASSERT_TRUE(file.ok()) << file.message();
    const auto& nm = (*file)->Info().metadata.regions.at(0).wavelengths;
    ASSERT_EQ(nm.size(), 1340u);
    fits::Frame frame;
    ASSERT_TRUE(file.value()->ReadFrame(0, frame).ok());
    auto at = [&](double column) {  // wavelength between columns, linearly
        auto j = static_cast<std::size_t>(column);
        return nm[j] + (column - static_cast<double>(j)) * (nm[j + 1] - nm[j]);
    };
    const double kNeon[] = {808.246, 837.761, 849.536, 878.062, 885.387, 914.867, 953.416};
    double worst = 0;
    for (double line : kNeon) {
        // The brightest column within 3 pixels of the line, then the centroid of 5 columns.
        auto near =
            static_cast<std::int64_t>(std::lower_bound(nm.begin(), nm.end(), line) - nm.begin());
        std::int64_t peak = near;
        for (std::int64_t c = near - 3; c <= near + 3; ++c)
            if (frame.At(c, 0) > frame.At(peak, 0)) peak = c;
        double base = std::min(frame.At(peak - 4, 0), frame.At(peak + 4, 0)), sum = 0, moment = 0;
        for (std::int64_t c = peak - 2; c <= peak + 2; ++c) {
            sum += frame.At(c, 0) - base;
            moment += static_cast<double>(c) * (frame.At(c, 0) - base);
        }
        const double centroid = moment / sum;
        worst = std::max(worst, std::abs(at(centroid) - line));
        // 1-based numbering would put the line one column (0.23 nm) further.
        EXPECT_GT(std::abs(at(centroid + 1) - line), 0.15) << line;
    }
    EXPECT_LT(worst, 0.1);
}

TEST(SpeMetadata, SampleFilesRecordWhatTheyHold) {
    struct Case {
        const char* name;
        bool calibrated, linear;
        const char* date;
        std::optional<double> setpoint, grooves, center;
        std::optional<std::int32_t> xbin, ybin;
        std::size_t comments;
        // ADC rate and gain codes, readout mode, accumulations
        std::array<std::optional<std::int32_t>, 4> readout = {};
    };
    const Case cases[] = {
        // clang-format off
        {"hene_int32_1340x1.spe", true, false, "2015-07-14T15:27:17", -70, {}, {}, 1, 10, 0,
         {12, 3, 1, 10}},
        {"noise_uint16_1020x1x5.spe", true, false, "2011-03-29T07:27:32", -75, 150, 550, 1, 30, 0,
         {6, 1, 1, 1}},
        {"glue_float32_4711x1_v25.spe", true, true, "2024-11-21T17:29:32", -15, {}, {}, 1, {}, 0,
         {{{}, {}, {}, 20}}},
        // clang-format on
        {"image_uint16_30x20x2.spe", false, false, "2023-05-03T15:13:16", {}, {}, {}, 1, 1, 4},
        {"frames01_uint16_32x32x2.spe", false, false, "2018-07-02T09:46:15", {}, {}, {}, 1, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = SpeFile::Open(Sample(c.name));
        ASSERT_TRUE(file.ok()) << file.message();
        const fits::DocumentMetadata& m = (*file)->Info().metadata;
        ASSERT_EQ(m.regions.size(), 1u);
        EXPECT_EQ(m.regions[0].wavelengths.empty(), !c.calibrated);
        EXPECT_EQ(m.regions[0].linear_step.has_value(), c.linear);
        ASSERT_TRUE(m.time.has_value());
        EXPECT_EQ(m.time->iso, c.date);
        EXPECT_EQ(m.temperature_setpoint, c.setpoint);
        EXPECT_FALSE(m.sensor_temperature.has_value());
        EXPECT_EQ(m.grating_grooves, c.grooves);
        EXPECT_EQ(m.center_wavelength, c.center);
        EXPECT_EQ(m.regions[0].xbinning, c.xbin);
        EXPECT_EQ(m.regions[0].ybinning, c.ybin);
        EXPECT_EQ(m.comments.size(), c.comments);
        EXPECT_EQ(
            decltype(c.readout)({m.adc_rate_code, m.gain_code, m.readout_mode, m.accumulations}),
            c.readout);
        for (const std::string& line : m.comments) {
            EXPECT_NE(line.back(), ' ');
            for (char ch : line)
                EXPECT_TRUE(ch >= 32 && ch <= 126);
        }
    }
}

// Display operations a 2.x header asks for are said, not silently ignored.
TEST(SpeMetadata, GeometricOperationsAreSaid) {
    TempDir dir;
    std::ifstream in(Sample("hene_int32_1340x1.spe"), std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    for (const auto& [geometric, said] : {std::pair<std::uint16_t, const char*>{0, ""},
                                          {1, "shown with rotate;"},
                                          {6, "with reverse, flip;"}}) {
        std::memcpy(bytes.data() + 600, &geometric, sizeof geometric);
        std::ofstream(dir / "g.spe", std::ios::binary) << bytes;
        auto file = SpeFile::Open(dir / "g.spe");
        ASSERT_TRUE(file.ok()) << file.message();
        const auto& notes = (*file)->Info().metadata.notes;
        const std::string first = notes.empty() ? "" : notes[0];
        EXPECT_EQ(*said ? first.find(said) != std::string::npos : first.empty(), true) << first;
    }
}

// ---- SPE 3.0 files written by WriteSpe3 (test_support.h) ----------------------------------

TEST(SpeMetadata, Footer30CalibrationTimeTemperatureAndGrating) {
    TempDir dir;
    const std::string footer =
        "<DataHistories><Camera model=\"CCD 1340\" serialNumber=\"SN-07\"><Adc><Speed>2</Speed>"
        "<EMGain>0</EMGain><AnalogGain>High</AnalogGain></Adc><Sensor><Temperature>"
        "<SensorTemperatureSetPoint>-70</SensorTemperatureSetPoint>"
        "<SensorTemperatureReading>-69.5</SensorTemperatureReading></Temperature></Sensor>"
        "</Camera><Spectrometers><Spectrometer><Grating><Selected>[500nm,1200][1][0]</Selected>"
        "<CenterWavelength>600.5</CenterWavelength></Grating></Spectrometer></Spectrometers>"
        "</DataHistories><GeneralInformation><FileInformation "
        "created=\"2021-05-06T07:08:09.25+02:00\"/></GeneralInformation>"
        "<Calibrations><WavelengthMapping><Wavelength>10,20,30,40,50,60,70,80</Wavelength>"
        "</WavelengthMapping><SensorMapping x=\"2\" width=\"6\" xBinning=\"2\" yBinning=\"4\"/>"
        "</Calibrations>";
    auto file = SpeFile::Open(WriteSpe3(dir / "a.spe", {{{3, 2}}, 2, footer}));
    ASSERT_TRUE(file.ok()) << file.message();
    const fits::DocumentMetadata& m = (*file)->Info().metadata;
    ASSERT_EQ(m.regions.size(), 1u);
    // Columns of two sensor pixels from pixel 2: (30+40)/2, (50+60)/2, (70+80)/2.
    EXPECT_EQ(m.regions[0].wavelengths, (std::vector<double>{35, 55, 75}));
    EXPECT_EQ(m.regions[0].xbinning, 2);
    EXPECT_EQ(m.regions[0].ybinning, 4);
    ASSERT_TRUE(m.time.has_value());
    EXPECT_EQ(m.time->iso, "2021-05-06T05:08:09.250");
    EXPECT_TRUE(m.time->utc);
    EXPECT_EQ(m.sensor_temperature, -69.5);
    EXPECT_EQ(m.temperature_setpoint, -70);
    EXPECT_EQ(m.grating_grooves, 1200);
    EXPECT_EQ(m.center_wavelength, 600.5);
    // Camera facts where the file states them; a gain of 0 (off) or in words is no number.
    EXPECT_EQ(m.camera_model, "CCD 1340");
    EXPECT_EQ(m.camera_serial, "SN-07");
    EXPECT_EQ(m.readout_mhz, 2);
    EXPECT_FALSE(m.em_gain.has_value());
}

TEST(SpeMetadata, Footer30CalibrationForms) {
    struct Case {
        const char* calibrations;
        std::vector<double> nm;  // of the 4 stored columns; empty: none
        bool note;
    };
    const Case cases[] = {
        {"<WavelengthMapping><Wavelength>1,2,4,8</Wavelength></WavelengthMapping>",
         {1, 2, 4, 8},
         false},
        {"<WavelengthMapping><Polynomial>100,0.5,0.25</Polynomial></WavelengthMapping>"
         "<SensorMapping x=\"1\" width=\"4\" xBinning=\"1\"/>",
         {100.75, 102, 103.75, 106},
         false},
        {"<WavelengthMapping><Wavelength>1,2,3</Wavelength></WavelengthMapping>", {}, true},
        {"<WavelengthMapping><Wavelength>1,2,x,4</Wavelength></WavelengthMapping>", {}, true},
        {"<WavelengthMapping><Wavelength>1,-2,3,4</Wavelength></WavelengthMapping>", {}, true},
        // A missing coefficient would shift the powers of the ones after it.
        {"<WavelengthMapping><Polynomial>400,,0.25</Polynomial></WavelengthMapping>", {}, true},
        {"<WavelengthMapping><Polynomial>400, 0.5,</Polynomial></WavelengthMapping>",
         {400, 400.5, 401, 401.5},
         false},
        // Columns that share a wavelength, or a step readers cannot invert, are no axis.
        {"<WavelengthMapping><Polynomial>400,5e-324</Polynomial></WavelengthMapping>", {}, true},
        {"<WavelengthMapping><Wavelength>1,2,2,3</Wavelength></WavelengthMapping>", {}, true},
        {"", {}, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.calibrations);
        auto file = SpeFile::Open(WriteSpe3(
            dir / "c.spe",
            {{{4, 1}}, 1, std::string("<Calibrations>") + c.calibrations + "</Calibrations>"}));
        ASSERT_TRUE(file.ok()) << file.message();
        const fits::DocumentMetadata& m = (*file)->Info().metadata;
        EXPECT_EQ(m.regions.at(0).wavelengths, c.nm);
        EXPECT_EQ(!m.notes.empty(), c.note);
        EXPECT_FALSE(m.time.has_value());
    }
}

// DATE-OBS is when the observation began: the first frame's ExposureStarted time stamp
// (laid out by each metadata item's bitDepth), else the Origin's created time, else the time
// the file was saved; never a time a FITS date cannot hold.
TEST(SpeMetadata, ObservationStartsAtTheFirstExposure) {
    const std::string saved =
        "<GeneralInformation><FileInformation created=\"2021-05-06T07:08:09+02:00\"/>"
        "</GeneralInformation>";
    const std::string origin =
        "<DataHistories><DataHistory><Origin created=\"2021-05-06T07:08:05+02:00\"/>"
        "</DataHistory></DataHistories>";
    auto meta = [](const std::string& items) {
        return "<MetaFormat><MetaBlock>" + items + "</MetaBlock></MetaFormat>";
    };
    const std::string tracking = "<FrameTrackingNumber type=\"Int64\" bitDepth=\"64\"/>";
    auto stamp = [](const char* absolute, const char* event = "ExposureStarted",
                    const char* resolution = "1000000") {
        return std::string("<TimeStamp event=\"") + event +
               "\" type=\"Int64\" bitDepth=\"64\" resolution=\"" + resolution +
               "\" absoluteTime=\"" + absolute + "\"/>";
    };
    const std::string fine =
        stamp("2021-05-06T07:08:00.1234567+02:00", "ExposureStarted", "10000000");
    const struct {
        std::string footer;
        std::int64_t ticks;
        const char* iso;   // nullptr: no DATE-OBS
        const char* note;  // a part of the note given (nullptr: none)
    } cases[] = {
        {saved, -1, "2021-05-06T05:08:09", nullptr},
        {origin + saved, -1, "2021-05-06T05:08:05", nullptr},
        {origin + saved + meta(tracking + stamp("2021-05-06T07:08:00+02:00")), 2500000,
         "2021-05-06T05:08:02.500", nullptr},
        // An item without a bitDepth: nothing after it can be placed.
        {origin + meta("<GateTracking/>" + stamp("2021-05-06T07:08:00Z")), 2500000,
         "2021-05-06T05:08:05", "bitDepth"},
        // A block larger than the 32 bytes each frame leaves for it is not read, with a note.
        {origin + meta(tracking + tracking + tracking + tracking + stamp("2021-05-06T07:08:00Z")),
         2500000, "2021-05-06T05:08:05", "32"},
        {meta(tracking + stamp("9999-12-31T23:59:59Z")), 2000000, nullptr, "no DATE-OBS"},
        {origin + meta(tracking + stamp("9999-12-31T23:59:59Z", "ExposureEnded")), 2000000,
         "2021-05-06T05:08:05", "no DATE-END"},
        // A leap second is kept: within it the second is 60, after it the next day begins.
        {meta(tracking + stamp("2016-12-31T23:59:60Z")), 500000, "2016-12-31T23:59:60.500",
         nullptr},
        {meta(tracking + stamp("2016-12-31T23:59:60Z")), 1500000, "2017-01-01T00:00:00.500",
         nullptr},
        // Stamps keep their 0.1 us: the origin's and the ticks' digits, never rounded up.
        {meta(tracking + fine), 25000001, "2021-05-06T05:08:02.6234568", nullptr},
        {meta(tracking + fine), 6000, "2021-05-06T05:08:00.1240567", nullptr},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.footer);
        Spe3 layout{{{4, 1}}, 2, c.footer};
        layout.stamp = c.ticks;
        auto file = SpeFile::Open(WriteSpe3(dir / "t.spe", layout));
        ASSERT_TRUE(file.ok()) << file.message();
        const fits::DocumentMetadata& m = (*file)->Info().metadata;
        ASSERT_EQ(m.time.has_value(), c.iso != nullptr);
        if (c.iso) {
            EXPECT_EQ(m.time->iso, c.iso);
        }
        ASSERT_EQ(!m.notes.empty(), c.note != nullptr);
        if (c.note) {
            EXPECT_NE(m.notes[0].find(c.note), std::string::npos) << m.notes[0];
        }
    }
}

// What the footer says was in effect: GROOVES and CENWAVE of the spectrometer's selected
// grating (not an entry of the instrument's list), no centre where it varied (step and
// glue); no exposure the file marks not relevant, but the frames' own where they agree.
TEST(SpeMetadata, FooterFactsAreTheOnesInEffect) {
    const std::string grating =
        "<Gratings><Grating><Name>[300nm,150]</Name></Grating></Gratings><Spectrometer><Grating>"
        "<Selected>[500nm,600][1][0]</Selected><CenterWavelength>550</CenterWavelength></Grating>";
    auto glue = [](const char* on) {
        return std::string("<StepAndGlue><Enabled>") + on + "</Enabled></StepAndGlue>";
    };
    auto exposure = [](const char* relevance) {
        return std::string("<Camera><ShutterTiming><ExposureTime relevance=\"") + relevance +
               "\">50</ExposureTime></ShutterTiming></Camera>";
    };
    std::string stamps = "<MetaFormat><MetaBlock><FrameTrackingNumber bitDepth=\"64\"/>";
    for (const char* event : {"ExposureStarted", "ExposureEnded"})
        stamps += std::string("<TimeStamp event=\"") + event + "\" bitDepth=\"64\" resolution=\"" +
                  "1000000\" absoluteTime=\"2021-05-06T07:08:00Z\"/>";
    stamps += "</MetaBlock></MetaFormat>";
    const struct {
        std::string footer;
        std::int64_t lasted;  // ticks from each frame's start stamp to its end; -1: no stamps
        std::optional<double> grooves, centre;
        std::string exptime;  // "" for none answered
    } cases[] = {
        {grating + "</Spectrometer>" + exposure("True"), -1, 600, 550, "0.05"},
        {grating + glue("True") + "</Spectrometer>", -1, 600, {}, "0"},
        {grating + glue("False") + "</Spectrometer>", -1, 600, 550, "0"},
        {exposure("False") + stamps, 15000, {}, {}, "0.015"},
        {exposure("False"), -1, {}, {}, ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.footer);
        Spe3 layout{{{4, 1}}, 3, c.footer, c.lasted >= 0 ? 1000 : -1, c.lasted};
        orlix::Application app;
        auto document = app.NewDataDocument();
        ASSERT_TRUE(document->Open(WriteSpe3(dir / "e.spe", layout), 0, 0, 0, 0, "").ok());
        EXPECT_EQ(document->GetParam(fits::doc_param::kExposure).ToText(), c.exptime);
        EXPECT_EQ(document->GetMetadata().grating_grooves, c.grooves);
        EXPECT_EQ(document->GetMetadata().center_wavelength, c.centre);
    }
}

// Gated and accumulated acquisitions: the settings the file states as in effect, never one
// it marks not relevant; where it does not say which gate was used, none, with a note.
TEST(SpeMetadata, GateAndAccumulationsAsInEffect) {
    auto camera = [](const std::string& relevance, const std::string& mode, const char* pulse) {
        return "<Camera><ReadoutControl><Accumulations" + relevance +
               ">4</Accumulations></ReadoutControl><Intensifier><Gating><Mode>" + mode +
               "</Mode><RepetitiveGate><Pulse " + pulse +
               "/></RepetitiveGate></Gating></Intensifier></Camera>";
    };
    const std::string combined =
        "<FrameCombination><FramesCombined>3</FramesCombined><Method>Sum</Method>"
        "</FrameCombination>";
    const struct {
        std::string footer;
        std::optional<std::int32_t> accumulations, frames;
        std::optional<double> width, delay;
        const char* note;  // a part of the one note; null: none
    } cases[] = {
        {camera("", "Repetitive", "width=\"50\" delay=\"12.5\"") + combined, 4, 3, 50, 12.5,
         nullptr},
        {camera(" relevance=\"False\"", "Repetitive", "width=\"50\" delay=\"1\""),
         {},
         {},
         50,
         1,
         "accumulations setting 4 is marked not relevant"},
        {camera("", "Sequential", "width=\"50\" delay=\"1\""), 4, {}, {}, {}, "sequential gating"},
        {camera("", "Custom", "width=\"50\" delay=\"1\""), 4, {}, {}, {}, "does not say"},
        {camera("", "Repetitive", "width=\"50\""), 4, {}, {}, {}, "no width and delay"},
        {"<Intensifier><Gating relevance=\"False\"><Mode>Repetitive</Mode><RepetitiveGate>"
         "<Pulse width=\"5\" delay=\"1\"/></RepetitiveGate></Gating></Intensifier>",
         {},
         {},
         {},
         {},
         "marked not relevant"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.footer);
        auto file = SpeFile::Open(WriteSpe3(dir / "g.spe", {{{4, 1}}, 1, c.footer}));
        ASSERT_TRUE(file.ok()) << file.message();
        const fits::DocumentMetadata& m = (*file)->Info().metadata;
        EXPECT_EQ(m.accumulations, c.accumulations);
        EXPECT_EQ(m.frames_combined, c.frames);
        EXPECT_EQ(m.combine_method, c.frames ? "sum" : "");
        EXPECT_EQ(m.gate_width_ns, c.width);
        EXPECT_EQ(m.gate_delay_ns, c.delay);
        ASSERT_EQ(m.notes.size(), c.note ? 1u : 0u);
        if (c.note) {
            EXPECT_NE(m.notes[0].find(c.note), std::string::npos) << m.notes[0];
        }
    }
}

// Regions share a calibration through their places on the sensor: one without a
// SensorMapping of its own gets no wavelengths (not another region's), with a note.
TEST(SpeMetadata, RegionWithoutItsOwnPlaceHasNoAxis) {
    TempDir dir;
    const std::string footer =
        "<Calibrations><WavelengthMapping><Wavelength>1,2,3,4,5,6,7,8</Wavelength>"
        "</WavelengthMapping><SensorMapping x=\"4\" width=\"4\" xBinning=\"1\"/>"
        "</Calibrations>";
    auto file = SpeFile::Open(WriteSpe3(dir / "r.spe", {{{4, 1}, {4, 1}}, 1, footer}));
    ASSERT_TRUE(file.ok()) << file.message();
    const fits::DocumentMetadata& m = (*file)->Info().metadata;
    ASSERT_EQ(m.regions.size(), 2u);
    EXPECT_EQ(m.regions[0].wavelengths, (std::vector<double>{5, 6, 7, 8}));
    EXPECT_TRUE(m.regions[1].wavelengths.empty());
    ASSERT_EQ(m.notes.size(), 1u);
    EXPECT_NE(m.notes[0].find("region 2 has no SensorMapping"), std::string::npos);
}

TEST(SpeMetadata, RegionsOfDifferentWidthsReadOneByOne) {
    TempDir dir;
    const std::string path = WriteSpe3(dir / "r.spe", {{{5, 2}, {3, 1}, {4, 2}}, 2, ""});
    orlix::Application app;
    auto document = app.NewDataDocument();
    ASSERT_TRUE(document->Open(path, 0, 0, 0, 0, "").ok());
    fits::DocumentMetadata m = document->GetMetadata();
    ASSERT_EQ(m.regions.size(), 3u);
    EXPECT_TRUE(m.RegionsDiffer());
    fits::Frame frame;
    auto whole = document->GetFrame(1, frame);
    EXPECT_FALSE(whole.ok());
    EXPECT_NE(whole.message().find("region 2 3 wide in a frame 5 wide"), std::string::npos)
        << whole.message();
    // Sample k of frame f is f * 1000 + k, the regions one after another.
    const int widths[] = {5, 3, 4}, heights[] = {2, 1, 2}, first[] = {0, 10, 13};
    for (int f = 1; f <= 2; ++f)
        for (int r = 0; r < 3; ++r) {
            ASSERT_TRUE(document->GetRegionFrame(f, r + 1, frame).ok());
            ASSERT_EQ(frame.Columns(), widths[r]);
            ASSERT_EQ(frame.Rows(), heights[r]);
            for (int k = 0; k < widths[r] * heights[r]; ++k)
                EXPECT_EQ(frame.At(k % widths[r], k / widths[r]), (f - 1) * 1000 + first[r] + k);
        }
    EXPECT_FALSE(document->GetRegionFrame(1, 4, frame).ok());
    EXPECT_FALSE(document->GetRegionFrame(3, 1, frame).ok());
    EXPECT_FALSE(document->GetRegionFrame(1, 0, frame).ok());
}

// Wavelengths given to a created file become its calibration when a polynomial of order 5
// or less holds them all to 0.1 pm and they make an axis (read back as the file's
// wavelengths); others, and a list of the wrong length, change nothing.
TEST(SpeMetadata, WavelengthsKeptAsTheLowestPolynomialThatHoldsThem) {
    TempDir dir;
    const std::int64_t n = 1340;
    auto list = [&](auto f) {
        std::vector<double> nm(static_cast<std::size_t>(n));
        for (std::int64_t j = 0; j < n; ++j)
            nm[static_cast<std::size_t>(j)] = f(static_cast<double>(j));
        return nm;
    };
    const struct {
        const char* name;
        std::vector<double> nm;
        std::size_t order;  // of the polynomial kept; 9: none kept
    } cases[] = {
        {"constant", list([](double) { return 500.0; }), 9},  // a polynomial, but no axis
        {"linear", list([](double j) { return 400 + 0.25 * j; }), 1},
        {"cubic", list([](double j) { return 780 + 0.23 * j - 1e-5 * j * j + 3e-9 * j * j * j; }),
         3},
        {"quintic", list([](double j) { return 300 + 0.1 * j + 1e-15 * std::pow(j, 5); }), 5},
        {"steps", list([](double j) { return 400 + std::floor(j / 100); }), 9},
        {"short", std::vector<double>(10, 500.0), 9},
        {"not finite", list([](double j) { return j == 7 ? NAN : 400 + j; }), 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".spe");
        auto file = SpeFile::Create(path, n, 1, 1, kSpeUInt16);
        ASSERT_TRUE(file);
        const Status s = (*file)->SetWavelengths(c.nm);
        ASSERT_EQ(s.ok(), c.order != 9) << s.message();
        auto back = SpeFile::Open(path);
        ASSERT_TRUE(back);
        const std::vector<double>& got = (*back)->Info().metadata.regions.at(0).wavelengths;
        const auto& own = (*file)->Info().metadata.regions;  // what its viewer reads
        if (c.order == 9) {
            EXPECT_TRUE(got.empty());
            EXPECT_TRUE(own.empty() || own[0].wavelengths.empty());
            continue;
        }
        EXPECT_EQ(own.at(0).wavelengths, got);
        ASSERT_EQ(got.size(), c.nm.size());
        for (std::size_t j = 0; j < got.size(); ++j)
            ASSERT_NEAR(got[j], c.nm[j], 1e-4) << "column " << j;
        auto order = PolynomialThrough(c.nm, 1e-4);
        ASSERT_TRUE(order);
        EXPECT_EQ(order->size(), c.order + 1);
    }
}

}  // namespace
}  // namespace orlix
