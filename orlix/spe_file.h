// SPE data files: reading versions 2.x and 3.0, creating version 2.5.
//
// Little-endian, a 4100-byte header, then the frames (and for 3.0 an XML footer). A file is
// SPE when it is at least 4100 bytes long, holds the identity word and a known datatype, and
// its dimensions are not 0. Every size taken from a header is checked against the file's
// size before anything is allocated; frames (or ranges of their rows) are read one at a time,
// with positioned reads straight into the caller's memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fits/automation/c_file.h"
#include "fits/automation/frame.h"
#include "fits/automation/metadata.h"
#include "fits/automation/result.h"
#include "orlix/spe_metadata.h"

namespace orlix {

using fits::Frame;
using fits::Result;
using fits::Status;

inline constexpr std::int64_t kHeaderSize = 4100;

// SPE datatype codes (header offset 108).
enum SpeDatatype : std::int16_t {
    kSpeFloat32 = 0,
    kSpeInt32 = 1,
    kSpeInt16 = 2,
    kSpeUInt16 = 3,
    kSpeFloat64 = 5,
    kSpeUInt8 = 6,
    kSpeUInt32 = 8,
};

// A block of samples inside a frame (3.0 regions; 2.x files have one region).
struct Region {
    std::int64_t offset = 0;  // bytes from the frame's start
    std::int64_t width = 0;
    std::int64_t height = 0;
};

struct SpeInfo {
    std::string path;
    float version = 0;
    std::int16_t datatype = 0;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    std::int64_t frames = 0;         // whole frames present (at most the header's NumFrames)
    std::int64_t header_frames = 0;  // NumFrames as the header says
    std::int64_t frame_stride = 0;   // bytes from one frame's start to the next
    std::vector<Region> regions;
    double exposure_seconds = 0;
    // False when the file states no exposure in effect (3.0: an ExposureTime marked
    // relevance="False" and no frame time stamps giving one): no exposure time is answered.
    bool exposure_known = true;
    bool exposure_is_float = true;    // 2.x: the f32 at offset 10; 3.0: from the XML, a double
    std::string exposure_problem;     // why a stored exposure time was not usable, or empty
    std::string date;                 // "DDMonYYYY" as stored, may be empty
    fits::DocumentMetadata metadata;  // calibration, time, detector facts, comments
    // 3.0: the layout of the metadata block after each frame's data, when it fits the stride.
    std::optional<MetaLayout> meta_layout;

    // Regions of different widths cannot be read as one frame, only one by one.
    bool RegionsDiffer() const;
    // Bytes of one frame's samples (all regions).
    std::int64_t FrameDataBytes() const;
};

// Application data type code for an SPE datatype (4 for unsupported ones).
std::int32_t DatatypeToCode(std::int16_t datatype);
// SPE datatype to create for an application data type code; none when it cannot be created.
std::optional<std::int16_t> CodeToDatatype(std::int32_t code);
// Size in bytes of one sample; 0 for an unknown datatype.
int DatatypeSize(std::int16_t datatype);
// Readable name such as "unsigned 32-bit".
std::string DatatypeName(std::int16_t datatype);
// Frame element type delivered for a supported datatype.
std::optional<fits::ElementType> DatatypeElement(std::int16_t datatype);

class SpeFile {
  public:
    // Opens an existing SPE file for reading (and writing frames when `writable`).
    static Result<std::unique_ptr<SpeFile>> Open(const std::string& path, bool writable = false);
    // Creates a new SPE 2.5 file with zero frames of the given size and datatype; fails when
    // a file of that name exists.
    static Result<std::unique_ptr<SpeFile>> Create(const std::string& path, std::int64_t columns,
                                                   std::int64_t rows, std::int64_t frames,
                                                   std::int16_t datatype,
                                                   float exposure_seconds = 0);
    ~SpeFile();
    SpeFile(const SpeFile&) = delete;
    SpeFile& operator=(const SpeFile&) = delete;

    const SpeInfo& Info() const { return info_; }
    // The datatype can be read and frame `index` (from 0) exists.
    Status CheckFrame(std::int64_t index) const;
    // Whole frames can be read: every region is as wide as the frame (otherwise only
    // region by region).
    Status CheckWholeFrames() const;
    // Frame `index` (from 0) into `frame`, whose storage is reused.
    Status ReadFrame(std::int64_t index, Frame& frame);
    // Rows [first_row, first_row + count) of frame `index` (from 0) into `out`, which holds
    // exactly count x columns samples in host order; the rows may span several regions, which
    // must all be as wide as the frame.
    Status ReadRows(std::int64_t index, std::int64_t first_row, std::int64_t count,
                    std::span<std::uint8_t> out);
    // Region `region` (from 0) of frame `index` (from 0) alone, as a frame of its own size.
    Status ReadRegion(std::int64_t index, std::size_t region, Frame& frame);
    // The facts the frames' metadata blocks record, one row per frame present; none when the
    // file has no such blocks or they cannot be read (with a note).
    std::optional<fits::FrameTable> ReadFrameTable(std::vector<std::string>& notes);
    // Stores frame `index` (from 0); elements are converted (rounded, clamped) to the
    // file's datatype when the frame's type differs.
    Status WriteFrame(std::int64_t index, const Frame& frame);
    // Makes `nm` (the wavelength of each column) the calibration of a 2.x file of one region,
    // stored as the lowest-order polynomial that holds every value to 0.1 pm; fails, changing
    // nothing, when no polynomial the header can hold does.
    Status SetWavelengths(const std::vector<double>& nm);
    // Makes `nm` the calibration this object reports (Info()) without storing it in the file,
    // for a file of one region and one value per column; false, changing nothing, otherwise.
    bool KeepWavelengthsShown(const std::vector<double>& nm);
    Status Flush();

  private:
    SpeFile(fits::UniqueFile file, SpeInfo info)
        : fd_(fileno(file.get())), file_(std::move(file)), info_(std::move(info)) {}
    int fd_;
    fits::UniqueFile file_;  // the header and footer; samples go through fd_ with pread / pwrite
    SpeInfo info_;
};

// Parses the XML footer of a 3.0 file into `info` (frame stride, regions, exposure),
// checking it against the header's values already in `info`.
Status ApplyXmlFooter(const std::string& xml, SpeInfo& info);

}  // namespace orlix
