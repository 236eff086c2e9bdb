#include "orlix/spe_metadata.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "fits/automation/result.h"
#include "fits/automation/variant.h"
#include "orlix/spe_file.h"
#include "orlix/spe_layout.h"
#include "orlix/xml_names.h"

namespace orlix {
namespace {

using namespace spe_layout;
constexpr double kNmPerCm = 1e7;

// A recorded number: finite and not 0 (writers leave 0 where they record nothing).
std::optional<double> Recorded(double value) {
    return std::isfinite(value) && value != 0 ? std::optional<double>(value) : std::nullopt;
}

std::string Text(const std::uint8_t* header, std::size_t offset, std::size_t length) {
    const char* p = reinterpret_cast<const char*>(header + offset);
    return std::string(p, strnlen(p, length));
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month, day;
};

Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

bool ValidDate(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= (m == 2 && !leap ? 28 : kDays[m - 1]);
}

// Fixed-width digits; none when any character is not a digit.
std::optional<int> Digits(std::string_view text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return text.empty() ? std::nullopt : std::optional<int>(value);
}

// "hhmmss" as seconds of the day.
std::optional<std::int64_t> SecondsOfDay(std::string_view text) {
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.size() != 6) return std::nullopt;
    auto h = Digits(text.substr(0, 2)), m = Digits(text.substr(2, 2)), s = Digits(text.substr(4));
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 60) return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

// ISO text of a moment given as days since 1970, milliseconds of the day and nanoseconds
// beyond them (`sub_ns`, 0 to 999999); empty when its year is outside 0000-9999, which a
// FITS date cannot hold. The fraction of the second has `decimals` digits (none for 0, cut,
// never rounded up, so the text is never later than the moment), trailing zeros beyond the
// third dropped. `leap`: the second is a leap second, written as 60 (`ms` then holds the
// moment of second 59).
std::string IsoText(std::int64_t days, std::int64_t ms, bool with_time, int decimals,
                    bool leap = false, std::int64_t sub_ns = 0) {
    Civil c = CivilFromDays(days);
    if (c.year < 0 || c.year > 9999) return {};
    char text[40];
    if (!with_time) {
        std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(c.year),
                      c.month, c.day);
    } else {
        const std::int64_t s = ms / 1000;
        int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d",
                              static_cast<long long>(c.year), c.month, c.day,
                              static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                              static_cast<int>(s % 60));
        if (decimals > 0 && n > 0) {
            decimals = std::min(decimals, 9);
            std::int64_t fraction = (ms % 1000) * 1000000 + sub_ns, scale = 1;
            for (int k = decimals; k < 9; ++k)
                scale *= 10;
            fraction /= scale;
            for (; decimals > 3 && fraction % 10 == 0; --decimals)
                fraction /= 10;
            std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%0*lld", decimals,
                          static_cast<long long>(fraction));
        }
        if (leap) std::memcpy(text + 17, "60", 2);
    }
    return text;
}

constexpr std::int64_t kDayMs = 86400000;

// Days and milliseconds normalised so that 0 <= ms < one day.
void Normalise(std::int64_t& days, std::int64_t& ms) {
    days += ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs);
    ms = ((ms % kDayMs) + kDayMs) % kDayMs;
}

std::optional<double> Number(const pugi::xml_node& node) {
    if (!node) return std::nullopt;
    auto value = fits::ParseNumber(node.text().get());
    return value && std::isfinite(*value) ? value : std::nullopt;
}

std::optional<std::int64_t> WholeAttribute(const pugi::xml_node& node, const char* name) {
    auto value = fits::ParseNumber(node.attribute(name).value());
    if (!value || *value < 0 || *value != std::floor(*value) || *value > 1e12) return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

// Keeps the wavelengths when every one is a positive finite number and they rise or fall
// strictly from column to column: readers take no axis whose columns share a wavelength.
void SetWavelengths(std::vector<double> nm, fits::RegionMetadata& region,
                    std::vector<std::string>& notes) {
    for (double w : nm)
        if (!std::isfinite(w) || w <= 0) {
            notes.push_back(
                "the x calibration gives no valid wavelength for every column; no "
                "wavelength axis");
            return;
        }
    bool rising = true, falling = true;
    for (std::size_t i = 1; i < nm.size(); ++i) {
        rising = rising && nm[i] > nm[i - 1];
        falling = falling && nm[i] < nm[i - 1];
    }
    if (!rising && !falling) {
        notes.push_back(
            "the x calibration's wavelengths do not rise or fall strictly from column to "
            "column; no wavelength axis");
        return;
    }
    region.wavelengths = std::move(nm);
}

// Comma-separated numbers ("400,0.5,0.25"; a final comma allowed), or blank-separated ones;
// none when any piece is empty or not a number: a missing coefficient must not shift the
// powers of the ones after it.
std::optional<std::vector<double>> NumberList(std::string_view text) {
    std::vector<double> values;
    const bool commas = text.find(',') != std::string_view::npos;
    if (commas) {
        const auto last = text.find_last_not_of(" \t\r\n");
        if (last != std::string_view::npos && text[last] == ',') text = text.substr(0, last);
    }
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find_first_of(commas ? "," : " \t\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view piece = text.substr(at, end - at);
        const auto first = piece.find_first_not_of(" \t\r\n");
        piece = first == std::string_view::npos
                    ? std::string_view{}
                    : piece.substr(first, piece.find_last_not_of(" \t\r\n") - first + 1);
        if (!piece.empty()) {
            auto value = fits::ParseNumber(piece);
            if (!value || !std::isfinite(*value)) return std::nullopt;
            values.push_back(*value);
        } else if (commas) {
            return std::nullopt;
        }
        if (end == text.size()) break;
        at = end + 1;
    }
    return values;
}

// Grooves per mm from a grating description such as "[500nm,1200][0][0]".
std::optional<double> GroovesFromSelected(std::string_view text) {
    auto comma = text.find(','), close = text.find(']');
    if (comma == std::string_view::npos || close == std::string_view::npos || close < comma)
        return std::nullopt;
    auto value = fits::ParseNumber(text.substr(comma + 1, close - comma - 1));
    return value && *value > 0 ? value : std::nullopt;
}

}  // namespace

std::optional<double> ToWavelength(double value, std::uint8_t unit, double laser_nm) {
    std::optional<double> nm;
    switch (unit) {
        case kUnitNone:
        case kUnitNm:
            nm = value;
            break;
        case kUnitWavenumber:
            if (value > 0) nm = kNmPerCm / value;
            break;
        case kUnitRamanShift:
            if (laser_nm > 0 && kNmPerCm / laser_nm - value > 0)
                nm = kNmPerCm / (kNmPerCm / laser_nm - value);
            break;
        default:
            break;
    }
    return nm && std::isfinite(*nm) && *nm > 0 ? nm : std::nullopt;
}

void ApplyPolynomial(const XCalibration& calibration, std::int64_t first_pixel,
                     std::int64_t binning, fits::RegionMetadata& region,
                     std::vector<std::string>& notes) {
    const std::vector<double>& c = calibration.coefficients;
    if (!calibration.valid || c.empty()) return;
    if (calibration.unit != kUnitNone && calibration.unit != kUnitNm &&
        calibration.unit != kUnitWavenumber && calibration.unit != kUnitRamanShift) {
        notes.push_back("the x calibration is in unit " + std::to_string(calibration.unit) +
                        " (pixels or user units), not a wavelength; no wavelength axis");
        return;
    }
    if (calibration.unit == kUnitRamanShift && !(calibration.laser_nm > 0)) {
        notes.push_back(
            "the x calibration is a Raman shift without a laser line; no "
            "wavelength axis");
        return;
    }
    if (calibration.unit == kUnitNone)
        notes.push_back("the x calibration does not record its unit; taken as nm");
    auto polynomial = [&](double x) {
        double sum = 0;
        for (std::size_t i = c.size(); i-- > 0;)
            sum = sum * x + c[i];
        return sum;
    };
    std::vector<double> nm(static_cast<std::size_t>(region.width));
    for (std::int64_t j = 0; j < region.width; ++j) {
        const double x =
            static_cast<double>(first_pixel + j * binning) + static_cast<double>(binning - 1) / 2.0;
        nm[static_cast<std::size_t>(j)] =
            ToWavelength(polynomial(x), calibration.unit, calibration.laser_nm).value_or(-1);
    }
    SetWavelengths(std::move(nm), region, notes);
    const bool linear = std::all_of(c.begin() + std::min<std::ptrdiff_t>(2, std::ssize(c)), c.end(),
                                    [](double v) { return v == 0; });
    if (!region.wavelengths.empty() && linear &&
        (calibration.unit == kUnitNone || calibration.unit == kUnitNm)) {
        const double step = (c.size() > 1 ? c[1] : 0.0) * static_cast<double>(binning);
        // Readers invert the step: one whose inverse overflows makes their WCS singular.
        if (!std::isnormal(step) || !std::isfinite(1.0 / step)) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", step);
            notes.push_back("the x calibration's step per column (" + std::string(shown) +
                            " nm) is too small for a wavelength axis; no wavelength axis");
            region.wavelengths.clear();
            return;
        }
        region.linear_start = region.wavelengths.front();
        region.linear_step = step;
    }
}

namespace {

bool Blank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// A field of the file as a note quotes it: bytes outside printable ASCII escaped.
std::string Quoted(std::string_view text) {
    return "\"" + fits::AsciiName(std::string(text)) + "\"";
}

// A card holds printable ASCII only: every other byte of `text` becomes ?. True when one did.
bool ReplaceUnprintable(std::string& text) {
    bool replaced = false;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) {
            c = '?';
            replaced = true;
        }
    return replaced;
}

}  // namespace

std::optional<fits::ObservationTime> SpeDateTime(std::string_view date, std::string_view local,
                                                 std::string_view utc,
                                                 std::vector<std::string>* notes) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto say = [&](std::string note) {
        if (notes) notes->push_back(std::move(note));
    };
    std::optional<int> day, year;
    int month = 0;
    if (date.size() == 9) {
        day = Digits(date.substr(0, 2));
        year = Digits(date.substr(5, 4));
        for (int m = 0; m < 12; ++m)
            if (date.substr(2, 3) == kMonths[m]) month = m + 1;
    }
    if (!day || !year || !ValidDate(*year, month, *day)) {
        if (!Blank(date)) say("the date " + Quoted(date) + " is no calendar date; no DATE-OBS");
        return std::nullopt;
    }
    std::int64_t days =
        DaysFromCivil(*year, static_cast<unsigned>(month), static_cast<unsigned>(*day));
    auto local_s = SecondsOfDay(local), utc_s = SecondsOfDay(utc);
    fits::ObservationTime time;
    if (local_s && utc_s) {
        // The date is the local one; the zone offset is local minus UTC, within a day.
        std::int64_t offset = *local_s - *utc_s;
        if (offset > 14 * 3600) offset -= 86400;
        if (offset <= -12 * 3600) offset += 86400;
        std::int64_t ms = (*local_s - offset) * 1000;
        Normalise(days, ms);
        time = {IsoText(days, ms, true, 0), true, "UTC start of acquisition"};
    } else if (utc_s) {
        time = {IsoText(days, *utc_s * 1000, true, 0), true, "UTC start of acquisition"};
    } else if (local_s) {
        time = {IsoText(days, *local_s * 1000, true, 0), false,
                "local start of acquisition, zone not recorded"};
    } else {
        time = {IsoText(days, 0, false, 0), false, "local date of acquisition"};
    }
    const char* instead = utc_s     ? "DATE-OBS is the UTC time on the recorded date"
                          : local_s ? "DATE-OBS is the local time, zone not recorded"
                                    : "DATE-OBS is the date alone";
    for (const auto& [name, text, read] :
         {std::tuple{"local", local, local_s.has_value()}, {"UTC", utc, utc_s.has_value()}})
        if (!read && !Blank(text))
            say(std::string("the ") + name + " time " + Quoted(text) + " is no time of day; " +
                instead);
    if (time.iso.empty()) {  // a year a FITS date cannot hold
        say("the acquisition time falls outside the years 0000-9999 that a FITS date holds; no "
            "DATE-OBS");
        return std::nullopt;
    }
    return time;
}

namespace {

// A moment read from ISO 8601 text.
struct Moment {
    std::int64_t days = 0, ms = 0;  // since 1970-01-01; ms within the day after Normalise
    std::int64_t sub_ns = 0;        // nanoseconds beyond ms, 0 to 999999
    int decimals = 0;               // digits of the fraction of a second to write; 0: none
    bool utc = false;               // the text had a zone (Z or an offset)
    bool leap = false;              // second 60: ms holds second 59
};

// YYYY-MM-DDThh:mm:ss[.f...][Z|+hh:mm|-hh:mm], turned into UTC when it has a zone.
std::optional<Moment> ParseIso(std::string_view text) {
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    auto y = Digits(text.substr(0, 4)), mo = Digits(text.substr(5, 2)),
         d = Digits(text.substr(8, 2));
    auto h = Digits(text.substr(11, 2)), mi = Digits(text.substr(14, 2)),
         s = Digits(text.substr(17, 2));
    if (!y || !mo || !d || !h || !mi || !s || !ValidDate(*y, *mo, *d) || *h > 23 || *mi > 59 ||
        *s > 60)
        return std::nullopt;
    Moment m;
    m.leap = *s == 60;
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        std::size_t end = ++at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        if (end == at) return std::nullopt;
        // Nanoseconds: a time stamp's origin has 0.1 us (7 digits), kept whole.
        std::string digits(text.substr(at, std::min<std::size_t>(end - at, 9)));
        digits.resize(9, '0');
        m.ms = *Digits(digits.substr(0, 3));
        m.sub_ns = *Digits(digits.substr(3));
        m.decimals = 3;
        at = end;
    }
    m.days = DaysFromCivil(*y, static_cast<unsigned>(*mo), static_cast<unsigned>(*d));
    m.ms += (*h * 3600LL + *mi * 60LL + (m.leap ? 59 : *s)) * 1000;
    std::string_view zone = text.substr(at);
    if (!zone.empty() && zone != "Z") {
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':')
            return std::nullopt;
        auto oh = Digits(zone.substr(1, 2)), om = Digits(zone.substr(4, 2));
        if (!oh || !om || *oh > 14 || *om > 59) return std::nullopt;
        m.ms -= (*oh * 60LL + *om) * 60000 * (zone[0] == '-' ? -1 : 1);
    }
    m.utc = !zone.empty();
    Normalise(m.days, m.ms);
    return m;
}

// The observation time of a moment; none (with a note naming `what`) when its year is outside
// what a FITS date holds.
std::optional<fits::ObservationTime> MomentTime(const Moment& m, const std::string& what,
                                                std::vector<std::string>* notes,
                                                const std::string& keyword = "DATE-OBS") {
    const std::string iso = IsoText(m.days, m.ms, true, m.decimals, m.leap, m.sub_ns);
    if (iso.empty()) {
        if (notes)
            notes->push_back(
                what + " falls outside the years 0000-9999 that a FITS date holds; no " + keyword);
        return std::nullopt;
    }
    return fits::ObservationTime{iso, m.utc,
                                 m.utc ? "UTC " + what : "local " + what + ", zone not recorded"};
}

}  // namespace

std::optional<fits::ObservationTime> IsoCreated(std::string_view text,
                                                std::vector<std::string>* notes) {
    auto moment = ParseIso(text);
    if (!moment) return std::nullopt;
    return MomentTime(*moment, "time the file was created", notes);
}

const MetaItem* MetaLayout::Find(MetaItem::Kind kind) const {
    for (const MetaItem& item : items)
        if (item.kind == kind) return &item;
    return nullptr;
}

namespace {

// Whether a time stamp's absolute time is a moment that a FITS date holds (in UTC where it
// has a zone): the stamps count from it, so none of their moments can be written otherwise.
bool ReadableOrigin(std::string_view iso) {
    const auto moment = ParseIso(iso);
    return moment && !IsoText(moment->days, moment->ms, false, 0).empty();
}

// The note on a time stamp whose absolute time cannot be read: what is left out without it.
std::string UnreadableStampNote(const MetaItem& item) {
    const bool start = item.name == "TimeStamp ExposureStarted";
    return "the " + item.name + " counts from " + Quoted(item.absolute_time) +
           ", no time a FITS date holds; " +
           (start ? "no EXPSTART column, and DATE-OBS, if written, comes from the footer's times"
                  : "no EXPEND column and no DATE-END");
}

// What kind of known item the element is, when its type and size are the ones this reader
// reads (64-bit integers for time stamps and frame numbers, 64-bit floats for gate values).
MetaItem::Kind KindOf(const pugi::xml_node& item, std::int64_t bits, MetaItem& out) {
    const std::string_view name = xml::LocalName(item);
    const std::string_view type = item.attribute("type").value();
    const bool whole = bits == 64 && (type.empty() || type == "Int64");
    if (name == "TimeStamp") {
        const std::string_view event = item.attribute("event").value();
        out.name = "TimeStamp " + std::string(event);
        auto resolution = WholeAttribute(item, "resolution");
        if (!whole || !resolution || *resolution == 0) return MetaItem::Kind::kUnknown;
        out.resolution = *resolution;
        out.absolute_time = item.attribute("absoluteTime").value();
        if (event != "ExposureStarted" && event != "ExposureEnded") return MetaItem::Kind::kUnknown;
        if (!ReadableOrigin(out.absolute_time)) return MetaItem::Kind::kUnreadable;
        return event == "ExposureStarted" ? MetaItem::Kind::kExposureStarted
                                          : MetaItem::Kind::kExposureEnded;
    }
    if (name == "FrameTrackingNumber") {
        out.name = std::string(name);
        return whole ? MetaItem::Kind::kFrameNumber : MetaItem::Kind::kUnknown;
    }
    if (name == "GateTracking") {
        out.component = item.attribute("component").value();
        out.unit = item.attribute("unit").value();
        out.name = "GateTracking " + out.component;
        const bool real = bits == 64 && (type.empty() || type == "Double");
        if (real && (out.component == "Delay" || out.component == "Width"))
            return MetaItem::Kind::kGate;
        return MetaItem::Kind::kUnknown;
    }
    out.name = std::string(name);
    return MetaItem::Kind::kUnknown;
}

}  // namespace

std::optional<MetaLayout> ReadMetaLayout(const pugi::xml_node& root,
                                         std::vector<std::string>& notes) {
    const pugi::xml_node block = xml::FindBelow(root, "MetaFormat", "MetaBlock");
    if (!block) return std::nullopt;
    MetaLayout layout;
    for (auto element : block.children()) {
        if (element.type() != pugi::node_element) continue;
        auto bits = WholeAttribute(element, "bitDepth");
        if (!bits || *bits == 0 || *bits % 8 != 0 || *bits > 1024) {
            notes.push_back("the per-frame metadata item " + std::string(xml::LocalName(element)) +
                            " has no usable bitDepth; no per-frame facts are read");
            return std::nullopt;
        }
        MetaItem item;
        item.kind = KindOf(element, *bits, item);
        if (item.kind == MetaItem::Kind::kUnreadable) notes.push_back(UnreadableStampNote(item));
        item.offset = layout.bytes;
        item.bytes = *bits / 8;
        layout.bytes += item.bytes;
        layout.items.push_back(std::move(item));
    }
    return layout;
}

namespace {

// Seconds since 1970 of a moment, without leap seconds: a leap second (:60) shares its count
// with second 59 before it, so that the seconds from it to any later moment are right.
long double MomentSeconds(const Moment& m) {
    return static_cast<long double>(m.days) * 86400 + static_cast<long double>(m.ms) / 1000 +
           static_cast<long double>(m.sub_ns) / 1e9L;
}

}  // namespace

std::optional<long double> StampSeconds(const MetaItem& stamp, std::int64_t ticks) {
    auto moment = ParseIso(stamp.absolute_time);
    if (!moment || stamp.resolution <= 0) return std::nullopt;
    const long double seconds = static_cast<long double>(ticks) / stamp.resolution;
    if (std::fabs(seconds) > 300.0L * 366 * 86400) return std::nullopt;  // no exposure's time
    return MomentSeconds(*moment) + seconds;
}

std::optional<long double> LeapSecondStart(std::string_view iso) {
    auto moment = ParseIso(iso);
    if (!moment || !moment->leap) return std::nullopt;
    return MomentSeconds(*moment) - static_cast<long double>(moment->ms % 1000) / 1000 -
           static_cast<long double>(moment->sub_ns) / 1e9L;
}

std::optional<long double> IsoSeconds(std::string_view iso) {
    if (iso.size() == 10) {
        std::string midnight(iso);
        midnight += "T00:00:00";
        return IsoSeconds(midnight);
    }
    auto moment = ParseIso(iso);
    if (!moment) return std::nullopt;
    return MomentSeconds(*moment);
}

int StampDecimals(std::int64_t resolution) {
    int decimals = 3;
    for (std::int64_t tick = 1000; tick < resolution && decimals < 9; tick *= 10)
        ++decimals;
    return decimals;
}

std::optional<fits::ObservationTime> SecondsTime(
    long double seconds, bool utc, const std::string& what, std::vector<std::string>& notes,
    const std::string& keyword, std::optional<long double> leap_start, int decimals) {
    // Whole seconds and nanoseconds apart: nanoseconds since 1970 overflow 64 bits in 2262.
    long double whole = std::floor(seconds);
    auto ns = static_cast<std::int64_t>(std::llround((seconds - whole) * 1e9L));
    if (ns >= 1000000000) whole += 1, ns -= 1000000000;
    const auto total_ms = static_cast<std::int64_t>(whole) * 1000 + ns / 1000000;
    Moment m;
    // The leap second shares its count with second 59: within it, the second is 60.
    if (leap_start) {
        const auto start_ms = static_cast<std::int64_t>(std::llround(*leap_start * 1000));
        m.leap = total_ms >= start_ms && total_ms < start_ms + 1000;
    }
    m.days = 0;
    m.ms = total_ms;
    m.sub_ns = ns % 1000000;
    m.decimals = decimals;
    m.utc = utc;
    Normalise(m.days, m.ms);
    return MomentTime(m, what, &notes, keyword);
}

namespace {

template <class T>
T BlockValue(const std::vector<std::uint8_t>& blocks, std::size_t at) {
    T value;
    std::memcpy(&value, blocks.data() + at, sizeof value);
    return value;
}

// The column of a known item: its name and what it holds; empty names for unknown items.
struct ColumnText {
    std::string name, comment;
};
ColumnText ColumnOf(const MetaItem& item) {
    const bool delay = item.component == "Delay";
    switch (item.kind) {
        case MetaItem::Kind::kExposureStarted:
            return {"EXPSTART", "start of the frame's exposure, seconds since DATEREF"};
        case MetaItem::Kind::kExposureEnded:
            return {"EXPEND", "end of the frame's exposure, seconds since DATEREF"};
        case MetaItem::Kind::kFrameNumber:
            return {"FRAMENUM", "the camera's frame tracking number"};
        case MetaItem::Kind::kGate:
            return {
                delay ? "GATEDLY" : "GATEWID",
                std::string("gate ") + (delay ? "delay" : "width") + " of the frame, as recorded"};
        case MetaItem::Kind::kUnreadable:
        case MetaItem::Kind::kUnknown:
            break;
    }
    return {};
}

}  // namespace

fits::FrameTable BuildFrameTable(const MetaLayout& layout, const std::vector<std::uint8_t>& blocks,
                                 std::int64_t frames, long double reference,
                                 const std::string& reference_iso,
                                 std::vector<std::string>& notes) {
    fits::FrameTable table;
    table.rows = frames;
    table.time_reference = reference_iso;
    std::string unknown;
    for (const MetaItem& item : layout.items) {
        const ColumnText text = ColumnOf(item);
        const std::string& name = text.name;
        if (name.empty()) {
            if (item.kind == MetaItem::Kind::kUnknown)
                unknown += (unknown.empty() ? "" : ", ") + item.name;
            continue;
        }
        bool repeated = false;
        for (const fits::FrameColumn& column : table.columns)
            repeated = repeated || column.name == name;
        if (repeated) {
            unknown += (unknown.empty() ? "" : ", ") + item.name + " (again)";
            continue;
        }
        fits::FrameColumn column;
        column.name = name;
        column.comment = text.comment;
        const bool time = item.kind == MetaItem::Kind::kExposureStarted ||
                          item.kind == MetaItem::Kind::kExposureEnded;
        column.integer = item.kind == MetaItem::Kind::kFrameNumber;
        column.unit = time ? "s" : item.unit;
        if (time) {
            table.resolution = item.resolution;
            table.absolute_time = item.absolute_time;
        }
        for (std::int64_t f = 0; f < frames; ++f) {
            const auto at = static_cast<std::size_t>(f * layout.bytes + item.offset);
            if (column.integer) {
                column.wholes.push_back(BlockValue<std::int64_t>(blocks, at));
            } else if (time) {
                // Whole ticks since the reference: DATE-OBS is cut to the ticks' resolution,
                // so the first exposure starts at 0, not a rounding error before it.
                auto seconds = StampSeconds(item, BlockValue<std::int64_t>(blocks, at));
                const long double ticks =
                    seconds ? std::round((*seconds - reference) * item.resolution) : NAN;
                column.reals.push_back(seconds ? static_cast<double>(ticks / item.resolution)
                                               : std::nan(""));
            } else {
                column.reals.push_back(BlockValue<double>(blocks, at));
            }
        }
        table.columns.push_back(std::move(column));
    }
    if (!unknown.empty())
        notes.push_back("per-frame metadata of a kind this reader does not know is left out: " +
                        unknown);
    return table;
}

void ReadCameraFacts(const pugi::xml_node& root, fits::DocumentMetadata& meta) {
    const pugi::xml_node camera = root.find_node([](const pugi::xml_node& n) {
        return n.type() == pugi::node_element && xml::LocalName(n) == "Camera" &&
               (n.attribute("model") || n.attribute("serialNumber"));
    });
    // A card's string holds 68 characters: 60 are kept. What changes is said.
    auto printable = [&](const char* what, const std::string& text) {
        std::string kept = text.substr(0, 60);
        const bool replaced = ReplaceUnprintable(kept);
        if (replaced || kept.size() < text.size())
            meta.notes.push_back(std::string("the camera's ") + what + " " + Quoted(text) + " is " +
                                 (replaced ? "written with ? for characters outside printable "
                                             "ASCII"
                                           : "") +
                                 (replaced && kept.size() < text.size() ? " and " : "") +
                                 (kept.size() < text.size() ? "cut to 60 characters" : ""));
        return kept;
    };
    if (camera) {
        meta.camera_model = printable("model", camera.attribute("model").value());
        meta.camera_serial = printable("serial number", camera.attribute("serialNumber").value());
    }
    if (auto speed = Number(xml::FindBelow(root, "Adc", "Speed")); speed && *speed > 0)
        meta.readout_mhz = speed;
    if (auto gain = Number(xml::FindBelow(root, "Adc", "EMGain")); gain && *gain > 0)
        meta.em_gain = gain;
}

namespace {

using Equations = std::vector<std::vector<long double>>;

// Whether the polynomial with coefficients `c` (in powers of the column j) gives every
// column's wavelength within the tolerance, evaluated as ApplyPolynomial evaluates it.
bool PolynomialHolds(const std::vector<double>& c, const std::vector<double>& nm,
                     double tolerance_nm) {
    for (std::size_t j = 0; j < nm.size(); ++j) {
        double sum = 0;
        for (std::size_t i = c.size(); i-- > 0;)
            sum = sum * static_cast<double>(j) + c[i];
        if (!(std::abs(sum - nm[j]) <= tolerance_nm)) return false;
    }
    return true;
}

// The normal equations of the least-squares fit of `m` coefficients in t = a j + b, as m
// rows of m coefficients and the right-hand side.
Equations NormalEquations(const std::vector<double>& nm, std::size_t m, long double a,
                          long double b) {
    Equations eq(m, std::vector<long double>(m + 1, 0));
    for (std::size_t j = 0; j < nm.size(); ++j) {
        const long double t = a * static_cast<long double>(j) + b;
        std::vector<long double> power(2 * m, 1);
        for (std::size_t k = 1; k < 2 * m; ++k)
            power[k] = power[k - 1] * t;
        for (std::size_t r = 0; r < m; ++r) {
            for (std::size_t c = 0; c < m; ++c)
                eq[r][c] += power[r + c];
            eq[r][m] += power[r] * nm[j];
        }
    }
    return eq;
}

// Gauss-Jordan elimination with partial pivoting, in place: row k then holds only its
// diagonal and right-hand side. False when the equations are singular.
bool Eliminate(Equations& eq) {
    const std::size_t m = eq.size();
    for (std::size_t col = 0; col < m; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < m; ++r)
            if (std::abs(eq[r][col]) > std::abs(eq[pivot][col])) pivot = r;
        std::swap(eq[col], eq[pivot]);
        if (eq[col][col] == 0) return false;
        for (std::size_t r = 0; r < m; ++r) {
            if (r == col) continue;
            const long double f = eq[r][col] / eq[col][col];
            for (std::size_t c = col; c <= m; ++c)
                eq[r][c] -= f * eq[col][c];
        }
    }
    return true;
}

// The solved equations' q_k t^k with t = a j + b, in powers of j:
// c_i = sum over k >= i of q_k C(k, i) a^i b^(k - i).
std::vector<double> InPowersOfColumn(const Equations& eq, long double a, long double b) {
    const std::size_t m = eq.size();
    std::vector<double> c(m);
    for (std::size_t i = 0; i < m; ++i) {
        long double sum = 0;
        for (std::size_t k = i; k < m; ++k) {
            long double binomial = 1;
            for (std::size_t t = 0; t < i; ++t)
                binomial =
                    binomial * static_cast<long double>(k - t) / static_cast<long double>(t + 1);
            sum += eq[k][m] / eq[k][k] * binomial * std::pow(a, static_cast<long double>(i)) *
                   std::pow(b, static_cast<long double>(k - i));
        }
        c[i] = static_cast<double>(sum);
    }
    return c;
}

}  // namespace

std::optional<std::vector<double>> PolynomialThrough(const std::vector<double>& nm,
                                                     double tolerance_nm) {
    const std::size_t n = nm.size();
    if (n == 0 || !std::all_of(nm.begin(), nm.end(), [](double v) { return std::isfinite(v); }))
        return std::nullopt;
    if (PolynomialHolds({nm[0]}, nm, tolerance_nm)) return std::vector<double>{nm[0]};
    // Least squares in t = a j + b, which spans [-1, 1] and keeps the normal equations well
    // conditioned; the result is then expanded into powers of j.
    const long double a = 2.0L / static_cast<long double>(n - 1), b = -1.0L;
    for (std::size_t order = 1; order < kMaxCoefficients && order < n; ++order) {
        Equations eq = NormalEquations(nm, order + 1, a, b);
        if (!Eliminate(eq)) return std::nullopt;
        std::vector<double> c = InPowersOfColumn(eq, a, b);
        if (PolynomialHolds(c, nm, tolerance_nm)) return c;
    }
    return std::nullopt;
}

void StoreXCalibration(std::uint8_t* header, const std::vector<double>& coefficients) {
    const std::size_t count = std::min(coefficients.size(), kMaxCoefficients);
    header[kXCal + kCalValid] = 1;
    header[kXCal + kCalPolyUnit] = kUnitNm;
    header[kXCal + kCalOrder] = static_cast<std::uint8_t>(count == 0 ? 0 : count - 1);
    for (std::size_t i = 0; i < kMaxCoefficients; ++i)
        Put<double>(header, kXCal + kCalCoefficients + 8 * i, i < count ? coefficients[i] : 0.0);
}

namespace {

// The readout settings a 2.x header records, where its writer set them (0: not set; third-
// party writers, version 0, leave them all 0), and the display operations it asks for, which
// are said: the samples are stored as the file holds them.
void ReadReadoutFacts(const std::uint8_t* header, fits::DocumentMetadata& meta) {
    auto code = [&](std::size_t at) -> std::optional<std::int32_t> {
        const std::uint16_t v = Get<std::uint16_t>(header, at);
        return v != 0 ? std::optional<std::int32_t>(v) : std::nullopt;
    };
    meta.adc_rate_code = code(kAdcRate);
    meta.gain_code = code(kGain);
    meta.readout_mode = code(kReadoutMode);
    if (const auto n = Get<std::int32_t>(header, kAccumulations); n > 0) meta.accumulations = n;
    const std::uint16_t geometric = Get<std::uint16_t>(header, kGeometric);
    std::string ops;
    for (const auto& [bit, name] : {std::pair{1, "rotate"}, {2, "reverse"}, {4, "flip"}})
        if (geometric & bit) ops += (ops.empty() ? "" : ", ") + std::string(name);
    if (!ops.empty())
        meta.notes.push_back("the file asks for its frames to be shown with " + ops +
                             "; the samples are written as the file stores them, not turned");
}

}  // namespace

namespace {

// Where the stored columns lie on the chip, for the x calibration: chip pixel first_pixel +
// j * binning (0-based) starts column j. Unknown when the file records a region that
// cannot make them.
struct ColumnPlace {
    std::int64_t first_pixel = 0, binning = 1;
    bool known = true;
};

// Whether chip pixels start..end (1-based) binned by `group` make `stored` columns or rows.
bool MakesStored(std::uint16_t start, std::uint16_t end, std::uint16_t group, std::int64_t stored) {
    return start >= 1 && end >= start && group >= 1 && (end - start + 1) / group == stored;
}

// The first region of interest of a 2.x header: binning and DETSEC of the stored frame. A
// region not recorded (all 0) leaves the columns at chip pixel 0; one recorded that cannot
// make the stored columns or rows gives none of its facts for them, with a note (its columns
// then place no calibration: `calibrated` says whether the note must say so).
ColumnPlace PlaceRegion(const std::uint8_t* header, bool calibrated, fits::RegionMetadata& region,
                        std::vector<std::string>& notes) {
    ColumnPlace place;
    std::uint16_t r[6];
    std::memcpy(r, header + kRegions, sizeof r);
    if (Get<std::int16_t>(header, kRegionCount) > 1 ||
        std::all_of(std::begin(r), std::end(r), [](std::uint16_t v) { return v == 0; }))
        return place;
    const bool x = MakesStored(r[0], r[1], r[2], region.width);
    const bool y = MakesStored(r[3], r[4], r[5], region.height);
    if (x) {
        place.first_pixel = r[0] - 1;
        place.binning = r[2];
        region.xbinning = r[2];
    }
    if (y) region.ybinning = r[5];
    if (x && y) region.sensor = fits::RegionMetadata::Section{r[0], r[1], r[3], r[4]};
    auto say = [&](const std::string& what, const std::uint16_t* p, std::int64_t stored,
                   const std::string& left_out) {
        notes.push_back("the region of interest's " + what + " " + std::to_string(p[0]) + "-" +
                        std::to_string(p[1]) + " binned by " + std::to_string(p[2]) +
                        " do not make the " + std::to_string(stored) + " stored " +
                        what.substr(0, what.size() - (stored == 1)) + "; " + left_out);
    };
    if (!x) {
        place.known = false;
        say("columns", r, region.width,
            std::string("no DETSEC or XBINNING") + (calibrated ? ", no wavelength axis" : ""));
    }
    if (!y) say("rows", r + 3, region.height, "no DETSEC or YBINNING");
    return place;
}

// The x calibration as the 2.x header records it.
XCalibration ReadXCalibration(const std::uint8_t* header) {
    XCalibration cal;
    cal.valid = header[kXCal + kCalValid] != 0;
    cal.unit = header[kXCal + kCalPolyUnit];
    const std::size_t order =
        std::min<std::size_t>(header[kXCal + kCalOrder], kMaxCoefficients - 1);
    for (std::size_t i = 0; i <= order; ++i)
        cal.coefficients.push_back(Get<double>(header, kXCal + kCalCoefficients + 8 * i));
    cal.laser_nm = Get<double>(header, kXCal + kCalLaser);
    return cal;
}

// The header's comment lines, blanks at their ends removed. A card holds printable ASCII
// only: every other byte becomes ?, and the lines that had one are named in a note.
void ReadComments(const std::uint8_t* header, fits::DocumentMetadata& meta) {
    std::string changed;
    for (std::size_t i = 0; i < kCommentCount; ++i) {
        std::string line = Text(header, kComments + i * kCommentLength, kCommentLength);
        const bool replaced = ReplaceUnprintable(line);
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (line.empty()) continue;
        meta.comments.push_back(line);
        if (replaced) fits::AppendListed(changed, std::to_string(i + 1));
    }
    if (!changed.empty())
        meta.notes.push_back((changed.find(',') == std::string::npos ? "comment " : "comments ") +
                             changed + ": characters outside printable ASCII are written as ?");
}

}  // namespace

fits::DocumentMetadata ReadHeaderMetadata(const std::uint8_t* header, std::int64_t columns,
                                          std::int64_t rows) {
    fits::DocumentMetadata meta;
    fits::RegionMetadata region;
    region.width = columns;
    region.height = rows;
    const XCalibration cal = ReadXCalibration(header);
    const bool given = cal.valid && std::any_of(cal.coefficients.begin(), cal.coefficients.end(),
                                                [](double v) { return v != 0; });
    const bool finite = std::all_of(cal.coefficients.begin(), cal.coefficients.end(),
                                    [](double v) { return std::isfinite(v); });
    const ColumnPlace place = PlaceRegion(header, given && finite, region, meta.notes);
    if (given && !finite)
        meta.notes.push_back(
            "the x calibration has a coefficient that is not a finite number; no wavelength "
            "axis");
    if (given && finite && place.known)
        ApplyPolynomial(cal, place.first_pixel, place.binning, region, meta.notes);
    meta.regions.push_back(std::move(region));

    meta.time = SpeDateTime(Text(header, kDate, 10), Text(header, kLocalTime, 7),
                            Text(header, kUtcTime, 7), &meta.notes);
    if (auto t = Recorded(Get<float>(header, kSetPoint)); t && std::abs(*t) < 300)
        meta.temperature_setpoint = t;
    if (auto g = Recorded(Get<float>(header, kGrooves)); g && *g > 0) meta.grating_grooves = g;
    if (auto c = Recorded(Get<float>(header, kCenter));
        c && *c > 0 && Get<std::int16_t>(header, kSpectrographUsed) != 0)
        meta.center_wavelength = c;
    ReadReadoutFacts(header, meta);
    ReadComments(header, meta);
    return meta;
}

namespace {

// The wavelength of each stored column of a region from a 3.0 list of sensor pixels (or of
// stored columns), binned columns taking the mean of their pixels.
void ApplyList(const std::vector<double>& list, std::int64_t x, std::int64_t binning,
               fits::RegionMetadata& region, std::vector<std::string>& notes) {
    const auto n = static_cast<std::int64_t>(list.size());
    std::vector<double> nm(static_cast<std::size_t>(region.width));
    if (n == region.width && (x + region.width * binning > n || binning == 1)) {
        nm = list;  // already one value per stored column
    } else if (x + region.width * binning <= n) {
        for (std::int64_t j = 0; j < region.width; ++j) {
            double sum = 0;
            for (std::int64_t k = 0; k < binning; ++k)
                sum += list[static_cast<std::size_t>(x + j * binning + k)];
            nm[static_cast<std::size_t>(j)] = sum / static_cast<double>(binning);
        }
    } else {
        notes.push_back("the wavelength list holds " + std::to_string(n) +
                        " values, too few for a region of " + std::to_string(region.width) +
                        " columns; no wavelength axis");
        return;
    }
    SetWavelengths(std::move(nm), region, notes);
}

// The calibration's wavelength mapping: a list of wavelengths, or polynomial coefficients;
// none when absent or not numbers (with a note).
struct WavelengthMapping {
    std::optional<std::vector<double>> list, coefficients;
    bool Given() const {
        return (coefficients && !coefficients->empty()) || (list && !list->empty());
    }
};

WavelengthMapping ReadWavelengthMapping(const pugi::xml_node& calibrations,
                                        std::vector<std::string>& notes) {
    WavelengthMapping mapping;
    auto wavelength = xml::Child(calibrations, "WavelengthMapping");
    if (auto node = xml::Child(wavelength, "Wavelength"))
        mapping.list = NumberList(node.text().get());
    if (auto node = xml::Child(wavelength, "Polynomial"))
        mapping.coefficients = NumberList(node.text().get());
    if ((xml::Child(wavelength, "Wavelength") && !mapping.list) ||
        (xml::Child(wavelength, "Polynomial") && !mapping.coefficients))
        notes.push_back(
            "the wavelength mapping holds text that is not numbers; no "
            "wavelength axis");
    return mapping;
}

// The sensor pixels a SensorMapping (x, y 0-based; width and height in sensor pixels) gives
// the region; none when any is missing or the binned size disagrees with the region's.
std::optional<fits::RegionMetadata::Section> MappedSection(const pugi::xml_node& mapping,
                                                           const fits::RegionMetadata& region) {
    auto x = WholeAttribute(mapping, "x"), y = WholeAttribute(mapping, "y");
    auto w = WholeAttribute(mapping, "width"), h = WholeAttribute(mapping, "height");
    if (!x || !y || !w || !h || *w == 0 || *h == 0) return std::nullopt;
    if (*w / region.xbinning.value_or(1) != region.width ||
        *h / region.ybinning.value_or(1) != region.height)
        return std::nullopt;
    return fits::RegionMetadata::Section{*x + 1, *x + *w, *y + 1, *y + *h};
}

// Region k's size, binning and wavelengths. Regions share the calibration through their
// places on the sensor: a region without a SensorMapping of its own (`mappings`) has no
// place, so no wavelengths.
fits::RegionMetadata ReadRegion(const std::vector<Region>& regions, std::size_t k,
                                const std::vector<pugi::xml_node>& mappings,
                                const WavelengthMapping& wavelengths,
                                std::vector<std::string>& notes) {
    fits::RegionMetadata region;
    region.width = regions[k].width;
    region.height = regions[k].height;
    std::int64_t x = 0, binning = 1;
    const bool placed = k < mappings.size() || regions.size() == 1;
    if (!placed && wavelengths.Given()) {
        notes.push_back("region " + std::to_string(k + 1) +
                        " has no SensorMapping of its own; no wavelength axis for it");
        return region;
    }
    if (k < mappings.size()) {
        x = WholeAttribute(mappings[k], "x").value_or(0);
        auto xb = WholeAttribute(mappings[k], "xBinning");
        auto yb = WholeAttribute(mappings[k], "yBinning");
        if (xb && *xb >= 1 && *xb <= INT32_MAX) {
            binning = *xb;
            region.xbinning = static_cast<std::int32_t>(*xb);
        }
        if (yb && *yb >= 1 && *yb <= INT32_MAX) region.ybinning = static_cast<std::int32_t>(*yb);
        region.sensor = MappedSection(mappings[k], region);
    }
    const auto& [list, coefficients] = wavelengths;
    if (coefficients && !coefficients->empty()) {
        XCalibration cal{true, kUnitNm, *coefficients, 0};
        ApplyPolynomial(cal, x, binning, region, notes);
    } else if (list && !list->empty()) {
        ApplyList(*list, x, binning, region, notes);
    }
    return region;
}

// The spectrometer's selected grating: the Grating element holding a Selected choice (an
// instrument's list of installed gratings holds Grating entries without one), and its centre
// wavelength, unless the file says the centre moved during the acquisition (step and glue).
void ReadSelectedGrating(const pugi::xml_node& root, fits::DocumentMetadata& meta) {
    const pugi::xml_node grating = root.find_node([](const pugi::xml_node& n) {
        return n.type() == pugi::node_element && xml::LocalName(n) == "Grating" &&
               xml::Child(n, "Selected");
    });
    if (!grating) return;
    meta.grating_grooves = GroovesFromSelected(xml::Child(grating, "Selected").text().get());
    const std::string_view glued =
        xml::Child(xml::FindBelow(root, "", "StepAndGlue"), "Enabled").text().get();
    auto centre = Number(xml::Child(grating, "CenterWavelength"));
    if (glued == "True" || glued == "true") {
        if (centre)
            meta.notes.push_back("the centre wavelength varied (step and glue); no CENWAVE");
        return;
    }
    if (centre && *centre > 0) meta.center_wavelength = centre;
}

// Whether the setting, or an element it stands in, is marked relevance="False": the camera
// did not use it, so it is no fact about the data.
bool MarkedNotRelevant(pugi::xml_node node) {
    for (; node; node = node.parent()) {
        const std::string_view relevance = node.attribute("relevance").value();
        if (relevance == "False" || relevance == "false") return true;
    }
    return false;
}

// A setting's count of 1 or more (accumulations, frames combined) when it is in effect;
// otherwise none, with a note naming the `keyword` left out unless the file has no such
// setting.
std::optional<std::int32_t> CountInEffect(const pugi::xml_node& node, const std::string& what,
                                          const std::string& keyword,
                                          std::vector<std::string>& notes) {
    if (!node) return std::nullopt;
    const std::string text = node.text().get();
    if (MarkedNotRelevant(node)) {
        notes.push_back("the " + what + " setting " + text + " is marked not relevant; " + keyword +
                        " is left out");
        return std::nullopt;
    }
    const auto n = Number(node);
    if (n && *n >= 1 && *n <= 2147483647.0 && *n == std::floor(*n))
        return static_cast<std::int32_t>(*n);
    notes.push_back("the " + what + " setting \"" + text + "\" is no count; " + keyword +
                    " is left out");
    return std::nullopt;
}

// The gate of an intensified camera in effect: the width and delay of a repetitive gate's
// pulse (nanoseconds, as the file gives them). A sequential gate changes from frame to frame
// and any other mode does not say which gate was used: no gate, with a note.
void ReadGateInEffect(const pugi::xml_node& root, fits::DocumentMetadata& meta) {
    const pugi::xml_node gating = xml::FindBelow(root, "Intensifier", "Gating");
    if (!gating) return;
    const std::string mode = xml::Child(gating, "Mode").text().get();
    const pugi::xml_node pulse = xml::Child(xml::Child(gating, "RepetitiveGate"), "Pulse");
    const char* left_out = "; GATEWID and GATEDLY are left out";
    if (MarkedNotRelevant(gating) || MarkedNotRelevant(xml::Child(gating, "Mode"))) {
        meta.notes.push_back(std::string("the gating settings are marked not relevant") + left_out);
        return;
    }
    if (mode != "Repetitive") {
        meta.notes.push_back((mode == "Sequential"
                                  ? std::string("the gate changed from frame to frame "
                                                "(sequential gating)")
                                  : "the gating mode \"" + mode +
                                        "\" does not say which gate "
                                        "was in effect") +
                             left_out);
        return;
    }
    auto width = fits::ParseNumber(pulse.attribute("width").value());
    auto delay = fits::ParseNumber(pulse.attribute("delay").value());
    if (!pulse || MarkedNotRelevant(pulse) || !width || !delay || !(*width >= 0) ||
        !(*delay >= 0) || !std::isfinite(*width) || !std::isfinite(*delay)) {
        meta.notes.push_back(std::string("the repetitive gate's pulse gives no width and delay "
                                         "in effect") +
                             left_out);
        return;
    }
    meta.gate_width_ns = width;
    meta.gate_delay_ns = delay;
}

// Exposures summed on the camera, and frames the acquisition combined into each stored one.
void ReadCombinedFrames(const pugi::xml_node& root, fits::DocumentMetadata& meta) {
    meta.accumulations = CountInEffect(xml::FindBelow(root, "ReadoutControl", "Accumulations"),
                                       "accumulations", "ACCUMS", meta.notes);
    const pugi::xml_node combined = xml::FindBelow(root, "FrameCombination", "FramesCombined");
    meta.frames_combined = CountInEffect(combined, "frames combined", "NCOMBINE", meta.notes);
    if (!meta.frames_combined) return;
    const std::string_view method = xml::Child(combined.parent(), "Method").text().get();
    if (method == "Average") meta.combine_method = "average";
    if (method == "Sum") meta.combine_method = "sum";
}

// The acquisition's start, the sensor's temperature and set point, the camera and the
// grating. The start is the Origin's created time, else the time the file was saved (seconds
// later); a first frame's time stamp, read with the frames, comes before both.
void ReadAcquisitionFacts(const pugi::xml_node& root, fits::DocumentMetadata& meta) {
    if (auto origin = xml::FindBelow(root, "", "Origin"); origin.attribute("created")) {
        if (auto moment = ParseIso(origin.attribute("created").value()))
            meta.time = MomentTime(*moment, "time the acquisition began", &meta.notes);
    } else if (auto info = xml::FindBelow(root, "GeneralInformation", "FileInformation")) {
        meta.time = IsoCreated(info.attribute("created").value(), &meta.notes);
    }
    auto reading = xml::FindBelow(root, "", "SensorTemperatureReading");
    if (!reading) reading = xml::FindBelow(root, "Temperature", "Reading");
    meta.sensor_temperature = Number(reading);
    auto setpoint = xml::FindBelow(root, "", "SensorTemperatureSetPoint");
    if (!setpoint) setpoint = xml::FindBelow(root, "Temperature", "SetPoint");
    meta.temperature_setpoint = Number(setpoint);
    ReadCameraFacts(root, meta);
    ReadSelectedGrating(root, meta);
    ReadGateInEffect(root, meta);
    ReadCombinedFrames(root, meta);
}

}  // namespace

fits::DocumentMetadata ReadFooterMetadata(const pugi::xml_node& root,
                                          const std::vector<Region>& regions) {
    fits::DocumentMetadata meta;
    auto calibrations = xml::FindBelow(root, "", "Calibrations");
    std::vector<pugi::xml_node> mappings;
    for (auto child : calibrations.children())
        if (xml::LocalName(child) == "SensorMapping") mappings.push_back(child);
    const WavelengthMapping wavelengths = ReadWavelengthMapping(calibrations, meta.notes);
    for (std::size_t k = 0; k < regions.size(); ++k)
        meta.regions.push_back(ReadRegion(regions, k, mappings, wavelengths, meta.notes));
    ReadAcquisitionFacts(root, meta);
    return meta;
}

}  // namespace orlix
