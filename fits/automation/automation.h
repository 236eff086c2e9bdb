// The acquisition application's objects as the converter sees them. A program wires a
// backend (our stand-in application, orlix) to the converter through AutomationFactory, so
// another backend can be added without touching the converter.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fits/automation/frame.h"
#include "fits/automation/metadata.h"
#include "fits/automation/result.h"
#include "fits/automation/variant.h"

namespace fits {

// DataDocument parameter numbers.
namespace doc_param {
inline constexpr std::int32_t kExposure = 4;
inline constexpr std::int32_t kColumns = 6;
inline constexpr std::int32_t kRows = 7;
inline constexpr std::int32_t kDataType = 9;
inline constexpr std::int32_t kFrames = 90;
inline constexpr std::int32_t kPath = 104;
}  // namespace doc_param

// Experiment parameter numbers.
namespace exp_param {
inline constexpr std::int32_t kExposure = 1;
inline constexpr std::int32_t kFrames = 2;
inline constexpr std::int32_t kDataType = 793;
inline constexpr std::int32_t kColumns = 803;
inline constexpr std::int32_t kRows = 804;
inline constexpr std::int32_t kFloatFlag = 829;
}  // namespace exp_param

// The element type and size of a document's frames.
struct FrameLayout {
    ElementType type = ElementType::kInt16;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
};

// Reading a range of rows of a frame straight into a caller's buffer, so that a writer can
// stream frames of any size through one small buffer. Optional: a document that offers it
// returns it from DataDocument::RowReader; GetFrame stays for every caller.
class RowRangeReader {
  public:
    virtual ~RowRangeReader() = default;
    // The layout of frame n (from 1); fails where GetFrame(n) would.
    virtual Result<FrameLayout> Layout(std::int64_t n) = 0;
    // Rows [first_row, first_row + count) of frame n (from 1), count x columns elements of the
    // layout's type in host order, into `out`, which holds exactly that many bytes. Rows
    // outside the frame are an error, not zeros.
    virtual Status ReadRows(std::int64_t n, std::int64_t first_row, std::int64_t count,
                            std::span<std::uint8_t> out) = 0;
};

// One SPE data file, opened or created in the acquisition application.
class DataDocument {
  public:
    virtual ~DataDocument() = default;
    // A parameter's value; the empty variant for an unknown number or a closed document.
    virtual Variant GetParam(std::int32_t number) = 0;
    // Existing file: name = its path, numbers 0, newName empty. New file: name empty, the
    // size, a data type code and newName the path to create.
    virtual Status Open(const std::string& name, std::int32_t columns, std::int32_t rows,
                        std::int32_t frames, std::int32_t type, const std::string& newName) = 0;
    virtual Status Refresh() = 0;
    // Frame n (from 1) into `frame`, whose storage is reused.
    virtual Status GetFrame(std::int64_t n, Frame& frame) = 0;
    virtual Status PutFrame(std::int64_t n, const Frame& frame) = 0;
    // The document's row-range reading, or null when it offers none (or has no file open).
    virtual RowRangeReader* RowReader() { return nullptr; }
    virtual Status Finalize() = 0;
    virtual Status Close() = 0;
    // What opening the data file found that the user should know though the file is still
    // read (a file holding fewer frames than its header says), naming the file; else empty.
    virtual std::string Notice() { return {}; }
    // How the open data file names its sample type ("data type 8 (unsigned 32-bit)"), for
    // messages; empty when it has no name of its own.
    virtual std::string DataTypeText() { return {}; }
    // What the open data file records beyond its frames; empty when the application keeps
    // nothing more (or no file is open).
    virtual DocumentMetadata GetMetadata() { return {}; }
    // The facts the open data file records for each frame (time stamps, frame numbers, gate
    // settings), read on request; none when it records none. Notes on what could not be read
    // go to `notes`.
    virtual std::optional<FrameTable> GetFrameTable(std::vector<std::string>& notes) {
        (void)notes;
        return std::nullopt;
    }
    // Makes `nm`, the wavelength in nm of each column, the calibration of a document this
    // application created; its viewer then plots against wavelength. Fails, changing nothing,
    // when the application cannot keep these wavelengths.
    virtual Status SetWavelengths(const std::vector<double>& nm) {
        (void)nm;
        return Status::Error("the application keeps no wavelength calibration");
    }
    // After SetWavelengths succeeded: true when the application keeps the wavelengths only
    // while it shows the document, its file holding none (a list no calibration of the file
    // can hold).
    virtual bool WavelengthsOnlyShown() { return false; }
    // Frame n (from 1) of region `region` (from 1) alone, for files whose regions differ in
    // width and so cannot be read as one frame.
    virtual Status GetRegionFrame(std::int64_t n, std::int32_t region, Frame& frame) {
        (void)n, (void)region, (void)frame;
        return Status::Error("the document cannot read regions of interest on their own");
    }
};

// The current acquisition set-up, which can also run an acquisition.
class Experiment {
  public:
    virtual ~Experiment() = default;
    virtual Variant GetParam(std::int32_t number) = 0;
    // Begins an acquisition into the document; Wait returns when it is done, and the
    // document's Finalize then holds the frames and names their file.
    virtual Status Start(DataDocument& document) = 0;
    virtual Status Wait() = 0;
};

class AutomationFactory {
  public:
    virtual ~AutomationFactory() = default;
    virtual std::unique_ptr<DataDocument> NewDataDocument() = 0;
    virtual std::unique_ptr<Experiment> NewExperiment() = 0;
    // A folder of the application's own where documents may be created (it may not exist
    // yet); empty when the application has none.
    virtual std::string DataFolder() { return {}; }
};

}  // namespace fits
