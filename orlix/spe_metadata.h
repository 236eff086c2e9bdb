// What an SPE file records beyond its frames: the x calibration as the wavelength of every
// stored column, the acquisition date and time, detector and spectrograph facts, comments.
//
// The 2.x calibration polynomial takes the 0-based pixel number of the chip: evaluated there,
// the neon lines of the sample hene_int32_1340x1.spe land within 0.06 nm of their laboratory
// wavelengths, while 1-based numbers put every line one pixel (0.23 nm) too red. A region of
// interest starting at chip pixel s (1-based) binned by g makes stored column j the centre of
// chip pixels s - 1 + j g ... s - 1 + j g + g - 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fits/automation/metadata.h"

namespace pugi {
class xml_node;
}

namespace orlix {

struct Region;

// The 2.x x-calibration block (offsets from 3000).
struct XCalibration {
    bool valid = false;
    std::uint8_t unit = 0;  // polynomial unit: 0 not recorded, 1 pixel, 4 nm, 5 cm-1, 6 Raman
    std::vector<double> coefficients;  // c0 first; the variable is the 0-based chip pixel
    double laser_nm = 0;
};

// Wavelength in nm of a calibration value in `unit`; none when it cannot be one.
std::optional<double> ToWavelength(double value, std::uint8_t unit, double laser_nm);

// Wavelengths of `columns` stored columns: the polynomial at the centre of each column's chip
// pixels (first chip pixel `first_pixel`, 0-based, `binning` pixels per column). Fills a
// region's calibration, or adds a note saying why it is left out.
void ApplyPolynomial(const XCalibration& calibration, std::int64_t first_pixel,
                     std::int64_t binning, fits::RegionMetadata& region,
                     std::vector<std::string>& notes);

// A calibration in nm that holds every one of `nm` (the wavelength of column j at nm[j])
// within `tolerance_nm`: the coefficients, c0 first, of the lowest-order polynomial in the
// column that does, up to order 5 (the most a 2.x header holds); none when no order does.
std::optional<std::vector<double>> PolynomialThrough(const std::vector<double>& nm,
                                                     double tolerance_nm);

// Writes a calibration in nm (coefficients c0 first, at most six) into the x-calibration block
// of a 2.x header, as ReadHeaderMetadata reads it back.
void StoreXCalibration(std::uint8_t* header, const std::vector<double>& coefficients);

// "DDMonYYYY" and "hhmmss" local and UTC times of a 2.x header as an observation time;
// none without a readable date. A field that is written but unreadable is named in `notes`
// with what DATE-OBS became without it; a blank one was not recorded and is not named.
std::optional<fits::ObservationTime> SpeDateTime(std::string_view date, std::string_view local,
                                                 std::string_view utc,
                                                 std::vector<std::string>* notes = nullptr);
// An ISO 8601 time with an optional fraction and offset ("2024-03-05T10:11:12.5-06:00") in
// UTC with at most milliseconds; local (utc false) without an offset; a leap second (:60)
// kept. None when unreadable, or (with a note) when its year in UTC is outside 0000-9999.
std::optional<fits::ObservationTime> IsoCreated(std::string_view text,
                                                std::vector<std::string>* notes = nullptr);

// One item of the metadata block stored after each frame's data (MetaFormat/MetaBlock), in
// block order. Items of a kind this reader does not know keep their place in the layout, as
// do time stamps whose absolute time cannot be read (kUnreadable: no moment can come from
// them; the note saying so is given when the layout is read).
struct MetaItem {
    enum class Kind {
        kExposureStarted,
        kExposureEnded,
        kFrameNumber,
        kGate,
        kUnreadable,
        kUnknown
    };
    Kind kind = Kind::kUnknown;
    std::string name;             // what the file calls it, for notes ("GateTracking Delay")
    std::int64_t offset = 0;      // bytes from the block's start
    std::int64_t bytes = 0;       // bitDepth / 8
    std::int64_t resolution = 0;  // time stamps: ticks per second
    std::string absolute_time;    // time stamps: what the ticks count from (ISO 8601)
    std::string component;        // gate values: Delay or Width
    std::string unit;             // gate values: the unit the file names, if any
};

struct MetaLayout {
    std::vector<MetaItem> items;
    std::int64_t bytes = 0;  // the whole block
    // The first item of a kind, or null.
    const MetaItem* Find(MetaItem::Kind kind) const;
};

// The layout of the per-frame metadata block, from each item's bitDepth; none when the footer
// describes no block, or (with a note) when an item has no usable bitDepth, so that nothing
// after it can be placed. An exposure time stamp counting from a time that cannot be read,
// or that a FITS date cannot hold, is named in a note with the column and card it gives none.
std::optional<MetaLayout> ReadMetaLayout(const pugi::xml_node& root,
                                         std::vector<std::string>& notes);

// The moment of a time stamp (`ticks` after the item's absolute time) as seconds since
// 1970-01-01 (UTC when the absolute time has a zone); none when it cannot be read.
std::optional<long double> StampSeconds(const MetaItem& stamp, std::int64_t ticks);
// The count of a leap second's start (as StampSeconds counts, the same as second 59's) when
// `iso` is a moment within a leap second (:60); none otherwise.
std::optional<long double> LeapSecondStart(std::string_view iso);
// Digits of a second's fraction that keep a time stamp of `resolution` ticks per second
// whole: 3 (milliseconds) at least, 7 for 0.1 us ticks, 9 at most.
int StampDecimals(std::int64_t resolution);
// The observation time of a moment in seconds since 1970, its fraction cut (never rounded up)
// to `decimals` digits, so the text is never later than the moment; none (with a note naming
// `what` and the `keyword` left out) when its year is outside 0000-9999. A moment within the
// leap second starting at `leap_start` is written with second 60.
std::optional<fits::ObservationTime> SecondsTime(long double seconds, bool utc,
                                                 const std::string& what,
                                                 std::vector<std::string>& notes,
                                                 const std::string& keyword = "DATE-OBS",
                                                 std::optional<long double> leap_start = {},
                                                 int decimals = 3);
// Seconds since 1970 of an observation time's ISO text; none when unreadable.
std::optional<long double> IsoSeconds(std::string_view iso);

// The per-frame table of `frames` blocks of `layout.bytes` bytes each (little-endian, as the
// file stores them): one column per known item, in block order; unknown items are named in
// `notes`. Time columns hold seconds since `reference` (seconds since 1970).
fits::FrameTable BuildFrameTable(const MetaLayout& layout, const std::vector<std::uint8_t>& blocks,
                                 std::int64_t frames, long double reference,
                                 const std::string& reference_iso, std::vector<std::string>& notes);

// Camera facts of a 3.0 footer: model, serial number, readout rate, EM gain.
void ReadCameraFacts(const pugi::xml_node& root, fits::DocumentMetadata& meta);

// Everything a 2.x header records (`header` holds the 4100 header bytes).
fits::DocumentMetadata ReadHeaderMetadata(const std::uint8_t* header, std::int64_t columns,
                                          std::int64_t rows);
// Everything a 3.0 footer records, for the regions already read from it.
fits::DocumentMetadata ReadFooterMetadata(const pugi::xml_node& root,
                                          const std::vector<Region>& regions);

}  // namespace orlix
