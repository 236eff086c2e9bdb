// What a data file records beyond its frames, as the converter asks the document for it:
// the wavelength of every stored column, the observation time, detector and spectrograph
// facts. Everything is optional: a fact the file does not record is absent, never guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fits {

// One region of interest as stored: its size, binning and calibration.
struct RegionMetadata {
    std::int64_t width = 0;   // stored columns
    std::int64_t height = 0;  // stored rows
    std::optional<std::int32_t> xbinning, ybinning;
    // Where the region lies on the sensor, in sensor pixels (1-based, inclusive), when the
    // file records it: first and last column, first and last row.
    struct Section {
        std::int64_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };
    std::optional<Section> sensor;
    // Wavelength in nm of each stored column (column 0 first); empty when not calibrated.
    std::vector<double> wavelengths;
    // Set when the calibration is exactly linear in the column: nm at column 0 and per column.
    std::optional<double> linear_start, linear_step;
};

struct ObservationTime {
    std::string iso;      // "YYYY-MM-DD", "YYYY-MM-DDThh:mm:ss" or with ".sss"
    bool utc = false;     // false: local time of an unknown zone
    std::string comment;  // what the time is, e.g. "UTC start of acquisition"
};

// One fact recorded for every frame: a column of the per-frame table.
struct FrameColumn {
    std::string name;                  // TTYPE: EXPSTART, EXPEND, FRAMENUM, GATEDLY, ...
    std::string unit;                  // TUNIT; empty when the file names none
    std::string comment;               // what the column holds
    bool integer = false;              // 64-bit integers, else 64-bit floating point
    std::vector<std::int64_t> wholes;  // one per frame, when integer
    std::vector<double> reals;         // one per frame, otherwise
};

// The facts a data file records for each frame, one row per frame.
struct FrameTable {
    std::int64_t rows = 0;
    std::vector<FrameColumn> columns;
    // Time stamps: ticks per second and the absolute time the ticks count from (ISO 8601, as
    // the file writes it); time columns hold seconds since the observation time.
    std::optional<std::int64_t> resolution;
    std::string absolute_time;
    std::string time_reference;  // the observation time (DATE-OBS) the seconds count from
};

struct DocumentMetadata {
    // One entry per region of interest; one for files with a single region.
    std::vector<RegionMetadata> regions;
    std::optional<ObservationTime> time;
    std::optional<ObservationTime> end_time;  // end of the last exposure (DATE-END)
    std::string camera_model, camera_serial;  // INSTRUME, DETECTOR; empty when not recorded
    std::optional<double> readout_mhz;        // ADC readout rate, MHz
    std::optional<double> em_gain;            // electron-multiplying gain setting
    // 2.x readout settings as the file codes them (the controller's own numbering).
    std::optional<std::int32_t> adc_rate_code, gain_code, readout_mode;
    std::optional<std::int32_t> accumulations;  // exposures summed into each frame
    // The gate of an intensified camera in effect for every frame, ns.
    std::optional<double> gate_width_ns, gate_delay_ns;
    std::optional<std::int32_t> frames_combined;  // stored frames each made of this many
    std::string combine_method;                   // "average" or "sum"; empty when not said
    std::optional<double> sensor_temperature;     // deg C, a reading
    std::optional<double> temperature_setpoint;   // deg C
    std::optional<double> grating_grooves;        // grooves per mm
    std::optional<double> center_wavelength;      // nm
    std::vector<std::string> comments;            // the file's own comment lines
    // Why something recorded could not be kept (e.g. a calibration in pixels), for a warning.
    std::vector<std::string> notes;

    // True when the regions differ in width and cannot form one image.
    bool RegionsDiffer() const {
        for (const RegionMetadata& r : regions)
            if (r.width != regions.front().width) return true;
        return false;
    }
};

}  // namespace fits
