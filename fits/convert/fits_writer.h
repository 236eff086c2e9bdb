// Writing one FITS file: the header block from the header text, then the frames of a data
// document as big-endian samples of the header's BITPIX, then zero bytes to a whole number
// of 2880-byte blocks. Every size and the sample type come from the header text alone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fits/automation/automation.h"
#include "fits/automation/progress.h"
#include "fits/convert/report.h"
#include "fits/header/header_model.h"

namespace fits {

// The header block: each non-empty line cut or padded to 80 characters, "END", blanks to a
// multiple of 2880; no line ends.
std::string BuildHeaderBlock(std::string_view headerText);

// Converts frames to FITS samples for one BITPIX and size, counting clamped samples.
class FrameEncoder {
  public:
    // `unsigned16`: 16-bit elements hold unsigned values (an unsigned 16-bit document).
    FrameEncoder(std::int32_t bitpix, std::int64_t columns, std::int64_t rows,
                 bool unsigned16 = false);
    // Bytes of one frame: columns x rows x |BITPIX| / 8.
    std::int64_t FrameBytes() const { return columns_ * rows_ * sample_bytes_; }
    bool Supported() const { return supported_; }
    std::int64_t Columns() const { return columns_; }
    std::int64_t Rows() const { return rows_; }
    // Bytes of one sample: |BITPIX| / 8.
    std::int64_t SampleBytes() const { return sample_bytes_; }
    // Encodes `count` elements of `type` at `src` (host order) into samples at `out`. The two
    // may overlap when the output never overtakes the source: src == out when samples are no
    // wider than elements, or the source ending where the `count` samples end when they are
    // wider. So a writer can read elements into its output buffer and convert them there.
    void EncodeElements(ElementType type, const std::uint8_t* src, std::int64_t count,
                        std::uint8_t* out);
    // Encodes rows [first_row, first_row + count) of the frame into `out`, which holds
    // count x columns x |BITPIX| / 8 bytes. Samples outside the frame are written as 0.
    void EncodeRows(const Frame& frame, std::int64_t first_row, std::int64_t count,
                    std::uint8_t* out);
    // Samples that did not fit the sample type and were clamped to the nearest value.
    std::int64_t Clamped() const { return clamped_; }
    // With BITPIX 16 (32), 16-bit (32-bit) elements hold unsigned values stored minus 32768
    // (2147483648): BZERO of that value.
    void SetUnsignedOffset(bool on) { unsigned_offset_ = on; }

  private:
    bool unsigned_offset_ = false;
    std::int32_t bitpix_;
    std::int64_t columns_, rows_, sample_bytes_;
    bool supported_;
    bool unsigned16_;
    std::int64_t clamped_ = 0;
};

// The bytes of one frame as the header text asks, or empty when NAXIS1, NAXIS2 or BITPIX is
// unusable. An unsupported BITPIX gives zero bytes and the "Data type not supported." box.
std::vector<std::uint8_t> FrameToBytes(std::string_view headerText, const Frame& frame,
                                       Reporter& reporter);

// The data a header asks for, every size checked to fit 64 bits.
struct DataLayout {
    std::int32_t bitpix = 0;
    std::int64_t columns = 0, rows = 0, frames = 0;
    std::int64_t row_bytes = 0, frame_bytes = 0, data_bytes = 0;
};

// The largest data part and row a header may ask for. A FITS file's data beyond 2^62 bytes
// is no file system's; a row beyond 256 MiB (67 million 32-bit samples) is a typo, and the
// writer holds a whole row in memory.
inline constexpr std::int64_t kMaxDataBytes = std::int64_t{1} << 62;
inline constexpr std::int64_t kMaxRowBytes = std::int64_t{256} << 20;

// The sizes the header asks for, or the reason (naming `path`) why it cannot be written:
// an empty header, no readable BITPIX / NAXIS1 / NAXIS2 / NAXIS3 (missing NAXIS2 and NAXIS3
// count as 1), an unsupported BITPIX, a size of 0 or less, or more data than can be written.
// A header whose NAXIS is 0 asks for no data (all sizes 0).
Result<DataLayout> CheckDataLayout(const HeaderModel& header, const std::string& path);
Result<DataLayout> CheckDataLayout(std::string_view headerText, const std::string& path);

struct WriteOutcome {
    bool written = false;
    std::int64_t clamped = 0;  // samples clamped to the sample type
};

// Where the HDUs after the primary one go: bytes appended to the FITS file being written.
class FitsSink {
  public:
    virtual ~FitsSink() = default;
    // Space for n more bytes, to be filled by the caller before the next call.
    virtual std::uint8_t* Reserve(std::size_t n) = 0;
    virtual std::int64_t Written() const = 0;
    void Append(std::string_view bytes);
    // Zero bytes up to the next multiple of 2880.
    void PadBlock();
};

// Writes extension HDUs (whole 2880-byte blocks) after the primary HDU.
using ExtensionWriter = std::function<Status(FitsSink&)>;

// Whether a header asks for unsigned 16-bit data of the document stored with BZERO 32768:
// BITPIX 16, BZERO 32768 and a document of data type code 6.
bool IsUnsignedOffset(const HeaderModel& header, DataDocument& document);
bool IsUnsignedOffset(std::string_view headerText, DataDocument& document);

// Writes the FITS file `path` from the header and the document's frames; the check, the
// layout, the scaling and the header block all come from the one parsed header. A header that
// CheckDataLayout refuses, or that asks for more frames than the document holds or more data
// than the file system has room for, fails before anything is written. The file is written
// beside the target as a temporary file and renamed over it only when complete: on any
// failure, and when `progress` (told of the bytes as they are written) asks to stop, the
// target stays as it was and no partial file remains.
Result<WriteOutcome> WriteFitsFile(const HeaderModel& header, DataDocument& document,
                                   const std::string& path, Reporter& reporter,
                                   const ByteProgress& progress = {},
                                   const ExtensionWriter& extensions = {});
Result<WriteOutcome> WriteFitsFile(std::string_view headerText, DataDocument& document,
                                   const std::string& path, Reporter& reporter,
                                   const ByteProgress& progress = {},
                                   const ExtensionWriter& extensions = {});

}  // namespace fits
