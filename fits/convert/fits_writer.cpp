#include "fits/convert/fits_writer.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <type_traits>

#include "fits/automation/data_types.h"
#include "fits/automation/safe_file.h"
#include "fits/convert/type_codes.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_check.h"
#include "fits/header/header_values.h"

namespace fits {
namespace {

constexpr std::size_t kWriteBuffer = 4 << 20;  // one reused buffer; a few MiB is fastest
// The buffer starts on a page: the kernel copies it into the page cache several times faster
// when source and destination share their alignment (a malloc'd block starts 16 bytes into a
// page, and its writes took twice the system time of an aligned one).
constexpr std::size_t kBufferAlignment = 4096;

// A block of bytes starting on a kBufferAlignment boundary; contents are undefined after
// Resize. Throws std::bad_alloc when memory is short, as a vector would.
class AlignedBuffer {
  public:
    void Resize(std::size_t n) {
        const std::size_t rounded =
            (n + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
        void* block = std::aligned_alloc(kBufferAlignment, rounded);
        if (!block) throw std::bad_alloc();
        data_.reset(static_cast<std::uint8_t*>(block));
        size_ = n;
    }
    std::uint8_t* data() { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> data_;
    std::size_t size_ = 0;
};

// ---- Sample conversion -------------------------------------------------------------------

template <class Dst, class Src>
inline Dst Convert(Src value, std::int64_t& clamped) {
    if constexpr (std::is_floating_point_v<Dst>) {
        return static_cast<Dst>(value);
    } else if constexpr (std::is_floating_point_v<Src>) {
        // Whole numbers from floating point: nearest, halves to even; out of range clamped.
        constexpr double lo = static_cast<double>(std::numeric_limits<Dst>::min());
        constexpr double hi = static_cast<double>(std::numeric_limits<Dst>::max());
        if (std::isnan(value)) return ++clamped, Dst{0};
        double r = std::nearbyint(static_cast<double>(value));
        if (r < lo) return ++clamped, std::numeric_limits<Dst>::min();
        if (r > hi) return ++clamped, std::numeric_limits<Dst>::max();
        return static_cast<Dst>(r);
    } else if constexpr (std::numeric_limits<Src>::min() >= std::numeric_limits<Dst>::min() &&
                         std::numeric_limits<Src>::max() <= std::numeric_limits<Dst>::max()) {
        return static_cast<Dst>(value);  // widening: always fits
    } else {
        using Wide = std::int64_t;
        Wide v = static_cast<Wide>(value);
        if (v < static_cast<Wide>(std::numeric_limits<Dst>::min()))
            return ++clamped, std::numeric_limits<Dst>::min();
        if (v > static_cast<Wide>(std::numeric_limits<Dst>::max()))
            return ++clamped, std::numeric_limits<Dst>::max();
        return static_cast<Dst>(v);
    }
}

// Elements converted per step: the step's source is first copied into a small local block,
// which lets the output overlap the source (see FrameEncoder::EncodeElements) and keeps the
// conversion loop free of aliasing, so the compiler vectorises it.
constexpr std::size_t kStepBytes = 8192;

// Reverses the bytes of each of n values of Size bytes at p, in place: the whole conversion
// when element and sample have the same type.
template <class T>
void SwapInPlace(std::uint8_t* p, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i, p += sizeof(T)) {
        T host;
        std::memcpy(&host, p, sizeof host);
        StoreBig(p, host);
    }
}

// Encodes n elements at `src` (host order) as big-endian Dst at `out`. `unsigned16`: the
// 16-bit elements hold unsigned values (below 0 means plus 65,536); those that do not fit Dst
// are clamped and counted.
template <class Dst, class Src>
void EncodeRun(const std::uint8_t* src, std::int64_t n, std::uint8_t* out, std::int64_t& clamped,
               bool unsigned16) {
    constexpr bool kSixteen = std::is_same_v<Src, std::int16_t>;
    if constexpr (std::is_same_v<Dst, Src>) {
        if (src == out && !(kSixteen && unsigned16)) return SwapInPlace<Src>(out, n);
    }
    constexpr auto kStep = static_cast<std::int64_t>(kStepBytes / sizeof(Src));
    constexpr auto kDst = static_cast<std::int64_t>(sizeof(Dst));
    Src block[kStep];
    std::int64_t local = 0;
    for (std::int64_t at = 0; at < n; at += kStep) {
        const std::int64_t m = std::min(kStep, n - at);
        std::memcpy(block, src + at * static_cast<std::int64_t>(sizeof(Src)),
                    static_cast<std::size_t>(m) * sizeof(Src));
        std::uint8_t* o = out + at * kDst;
        if constexpr (kSixteen) {
            if (unsigned16) {
                for (std::int64_t i = 0; i < m; ++i)
                    StoreBig(o + kDst * i, Convert<Dst>(static_cast<std::int32_t>(
                                                            static_cast<std::uint16_t>(block[i])),
                                                        local));
                continue;
            }
        }
        for (std::int64_t i = 0; i < m; ++i)
            StoreBig(o + kDst * i, Convert<Dst>(block[i], local));
    }
    clamped += local;
}

// `unsigned16`: the document's 16-bit data are unsigned. 16-bit elements written as 32-bit
// samples are read as unsigned whatever the document says.
template <class Src>
void EncodeAs(std::int32_t bitpix, const std::uint8_t* src, std::int64_t n, std::uint8_t* out,
              std::int64_t& clamped, bool unsigned16) {
    const bool as_unsigned = std::is_same_v<Src, std::int16_t> && (unsigned16 || bitpix == 32);
    switch (bitpix) {
        case 8:
            EncodeRun<std::uint8_t, Src>(src, n, out, clamped, as_unsigned);
            break;
        case 16:
            EncodeRun<std::int16_t, Src>(src, n, out, clamped, as_unsigned);
            break;
        case 32:
            EncodeRun<std::int32_t, Src>(src, n, out, clamped, as_unsigned);
            break;
        case -32:
            EncodeRun<float, Src>(src, n, out, clamped, as_unsigned);
            break;
        default:
            break;
    }
}

// 16- or 32-bit elements (U) holding unsigned values, stored as value - 2^(bits - 1) (BZERO
// 32768 or 2147483648): the unsigned value with its top bit flipped, as a signed sample of
// the same width. `src` may be `out`.
template <class U>
void EncodeOffsetUnsigned(const std::uint8_t* src, std::int64_t n, std::uint8_t* out) {
    using Signed = std::make_signed_t<U>;
    constexpr U kTop = static_cast<U>(U{1} << (8 * sizeof(U) - 1));
    for (std::int64_t i = 0; i < n; ++i) {
        U v;
        std::memcpy(&v, src + static_cast<std::int64_t>(sizeof(U)) * i, sizeof(U));
        StoreBig(out + static_cast<std::int64_t>(sizeof(U)) * i,
                 static_cast<Signed>(static_cast<U>(v ^ kTop)));
    }
}

// ---- Output --------------------------------------------------------------------------------

// The file being written, through one reused buffer.
class TempOutput : public FitsSink {
  public:
    explicit TempOutput(const std::string& target) : file_(target), target_(target) {
        if (ok()) buffer_.Resize(kWriteBuffer);
    }
    bool ok() const { return file_.ok() && !cancelled_; }
    std::string error() const {
        return cancelled_ ? ShownName(target_) + ": cancelled; nothing written" : file_.error();
    }
    // Tells `progress` of the bytes written after each write to the file; the writing fails
    // (and Commit keeps nothing) once it returns false.
    void SetProgress(const ByteProgress& progress, std::int64_t total) {
        progress_ = progress;
        total_ = total;
    }
    std::int64_t Written() const override { return written_; }

    // Room for n more bytes in the buffer (flushing first when needed), not yet counted as
    // written: the caller fills some of it and then Advance()s over what it filled.
    std::uint8_t* Room(std::size_t n) {
        if (used_ + n > buffer_.size()) {
            Flush();
            if (n > buffer_.size()) buffer_.Resize(n);  // empty after Flush: nothing to keep
        }
        return buffer_.data() + used_;
    }
    void Advance(std::size_t n) {
        used_ += n;
        written_ += static_cast<std::int64_t>(n);
    }
    // Space for n more bytes, counted as written.
    std::uint8_t* Reserve(std::size_t n) override {
        std::uint8_t* at = Room(n);
        Advance(n);
        return at;
    }
    void AppendZeros(std::int64_t n) {
        while (n > 0) {
            auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(n, kWriteBuffer));
            std::memset(Reserve(chunk), 0, chunk);
            n -= static_cast<std::int64_t>(chunk);
        }
    }
    void Flush() {
        file_.Write(buffer_.data(), used_);
        used_ = 0;
        if (progress_ && ok() && !progress_(written_, std::max(total_, written_)))
            cancelled_ = true;
    }
    // Completes the file and renames it over the target. With progress to tell, the slow
    // parts of replacing a file run beside while progress is told: the wait for the disk, and
    // freeing the old file's blocks (held open across the rename, and let go afterwards). A
    // stop asked during the wait still keeps the old file.
    void Commit() {
        Flush();
        if (!ok()) return;
        if (!progress_) {
            file_.Commit();
            return;
        }
        Beside([&] { file_.SyncIfReplacing(); }, true);
        if (!ok()) return;
        const int old = open(target_.c_str(), O_RDONLY | O_CLOEXEC);
        file_.Commit();
        if (old >= 0) Beside([old] { close(old); }, false);  // written: too late to stop
    }

  private:
    // Runs `work` on a thread of its own, telling progress meanwhile; a stop asked then counts
    // when `may_stop`.
    void Beside(const std::function<void()>& work, bool may_stop) {
        RunBeside(
            work,
            [&] {
                if (!progress_(written_, std::max(total_, written_)) && may_stop) cancelled_ = true;
            },
            std::chrono::milliseconds(10));
    }

    SafeFile file_;
    std::string target_;
    ByteProgress progress_;
    std::int64_t total_ = 0;
    bool cancelled_ = false;
    AlignedBuffer buffer_;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;
};

// Appends a whole frame held in memory, converted in pieces of about one write buffer.
void AppendFrame(const Frame& frame, FrameEncoder& encoder, TempOutput& out) {
    const std::int64_t row_bytes = encoder.Columns() * encoder.SampleBytes();
    const std::int64_t rows_per_chunk =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(kWriteBuffer) / row_bytes);
    for (std::int64_t r = 0; r < encoder.Rows() && out.ok(); r += rows_per_chunk) {
        std::int64_t count = std::min(rows_per_chunk, encoder.Rows() - r);
        encoder.EncodeRows(frame, r, count,
                           out.Reserve(static_cast<std::size_t>(count * row_bytes)));
    }
}

// Streams frame f from the document's row reader: rows are read straight into the write
// buffer and converted there, so memory stays one buffer (about one row when rows are wider
// than it) whatever the frame's size. Columns and rows the header asks for beyond the frame's
// are zeros; columns of the frame beyond the header's are read and left out.
Status StreamFrame(RowRangeReader& reader, std::int64_t f, const FrameLayout& layout,
                   FrameEncoder& encoder, TempOutput& out) {
    const std::int64_t element = ElementSize(layout.type), sample = encoder.SampleBytes();
    const std::int64_t n = std::min(encoder.Columns(), layout.columns);  // columns with data
    const std::int64_t data_rows = n > 0 ? std::min(encoder.Rows(), layout.rows) : 0;
    const std::int64_t pad = (encoder.Columns() - n) * sample;  // zero bytes after each row
    const std::int64_t src_row = layout.columns * element, dst_row = n * sample;
    // In-place conversion needs the source's first n elements to end where their samples
    // end: wider samples need that much more room before the source.
    const std::int64_t widen = n * std::max<std::int64_t>(0, sample - element);
    const std::int64_t room_row = src_row + widen;
    const bool whole_rows = pad == 0 && n == layout.columns;  // rows follow as in the file
    const std::int64_t rows_per_chunk =
        whole_rows && room_row > 0
            ? std::max<std::int64_t>(1, static_cast<std::int64_t>(kWriteBuffer) / room_row)
            : 1;
    for (std::int64_t r = 0; r < data_rows && out.ok(); r += rows_per_chunk) {
        const std::int64_t k = std::min(rows_per_chunk, data_rows - r);
        std::uint8_t* room = out.Room(static_cast<std::size_t>(k * room_row));
        std::uint8_t* src = room + k * widen;
        if (Status s = reader.ReadRows(f, r, k, {src, static_cast<std::size_t>(k * src_row)}); !s)
            return s;
        encoder.EncodeElements(layout.type, src, k * n, room);
        out.Advance(static_cast<std::size_t>(k * dst_row));
        if (pad > 0) out.AppendZeros(pad);
    }
    out.AppendZeros((encoder.Rows() - data_rows) * encoder.Columns() * sample);
    return Status::Ok();
}

std::string Dims(std::int64_t a, std::int64_t b) {
    return std::to_string(a) + " x " + std::to_string(b);
}

}  // namespace

void FitsSink::Append(std::string_view bytes) {
    if (!bytes.empty()) std::memcpy(Reserve(bytes.size()), bytes.data(), bytes.size());
}

void FitsSink::PadBlock() {
    const auto n = static_cast<std::size_t>(BlockPadding(Written()));
    if (n > 0) std::memset(Reserve(n), 0, n);
}

bool IsUnsignedOffset(const HeaderModel& header, DataDocument& document) {
    const std::int32_t bitpix = UnsignedOffsetBitpix(document);
    return bitpix != 0 && header.Whole("BITPIX") == bitpix &&
           header.Number("BZERO") == UnsignedZero(bitpix);
}

bool IsUnsignedOffset(std::string_view headerText, DataDocument& document) {
    return IsUnsignedOffset(HeaderModel::Parse(headerText), document);
}

std::string BuildHeaderBlock(std::string_view headerText) {
    return HeaderModel::Parse(headerText).Block();
}

FrameEncoder::FrameEncoder(std::int32_t bitpix, std::int64_t columns, std::int64_t rows,
                           bool unsigned16)
    : bitpix_(bitpix),
      columns_(std::max<std::int64_t>(columns, 0)),
      rows_(std::max<std::int64_t>(rows, 0)),
      sample_bytes_(IsSupportedBitpix(bitpix) ? std::abs(bitpix) / 8 : 0),
      supported_(IsSupportedBitpix(bitpix)),
      unsigned16_(unsigned16) {}

void FrameEncoder::EncodeElements(ElementType type, const std::uint8_t* src, std::int64_t count,
                                  std::uint8_t* out) {
    if (!supported_) return;
    switch (type) {
        case ElementType::kUInt8:
            EncodeAs<std::uint8_t>(bitpix_, src, count, out, clamped_, unsigned16_);
            break;
        case ElementType::kInt16:
            if (unsigned_offset_ && bitpix_ == 16)
                EncodeOffsetUnsigned<std::uint16_t>(src, count, out);
            else
                EncodeAs<std::int16_t>(bitpix_, src, count, out, clamped_, unsigned16_);
            break;
        case ElementType::kInt32:
            if (unsigned_offset_ && bitpix_ == 32)
                EncodeOffsetUnsigned<std::uint32_t>(src, count, out);
            else
                EncodeAs<std::int32_t>(bitpix_, src, count, out, clamped_, unsigned16_);
            break;
        case ElementType::kFloat32:
            EncodeAs<float>(bitpix_, src, count, out, clamped_, unsigned16_);
            break;
    }
}

void FrameEncoder::EncodeRows(const Frame& frame, std::int64_t first_row, std::int64_t count,
                              std::uint8_t* out) {
    const std::int64_t row_bytes = columns_ * sample_bytes_;
    const std::int64_t n = supported_ ? std::min(columns_, frame.Columns()) : 0;
    const std::int64_t element = ElementSize(frame.Type());
    const std::uint8_t* elements = frame.Bytes().data();
    for (std::int64_t r = first_row; r < first_row + count; ++r, out += row_bytes) {
        if (r >= frame.Rows() || n == 0) {
            std::memset(out, 0, static_cast<std::size_t>(row_bytes));
            continue;
        }
        EncodeElements(frame.Type(), elements + r * frame.Columns() * element, n, out);
        if (n < columns_)
            std::memset(out + n * sample_bytes_, 0,
                        static_cast<std::size_t>((columns_ - n) * sample_bytes_));
    }
}

std::vector<std::uint8_t> FrameToBytes(std::string_view headerText, const Frame& frame,
                                       Reporter& reporter) {
    HeaderValues v = GetHeaderValues(headerText, kNaxis1 | kNaxis2 | kBitpix);
    if (!v.naxis1 || !v.naxis2 || !v.bitpix || *v.naxis1 <= 0 || *v.naxis2 <= 0) return {};
    FrameEncoder encoder(*v.bitpix, *v.naxis1, *v.naxis2);
    std::int64_t frame_bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::int64_t>(*v.naxis1) * *v.naxis2,
                               std::abs(static_cast<std::int64_t>(*v.bitpix)) / 8, &frame_bytes))
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frame_bytes), 0);
    if (!encoder.Supported())
        reporter.MessageBox("Data type not supported.", "FITS");
    else
        encoder.EncodeRows(frame, 0, *v.naxis2, bytes.data());
    return bytes;
}

namespace {

// Why the writer cannot store samples of this BITPIX; empty when it can.
std::string UnsupportedBitpix(std::int32_t bitpix) {
    if (IsSupportedBitpix(bitpix)) return {};
    return "BITPIX " + std::to_string(bitpix) + " is not supported (8, 16, 32 and -32 are)";
}

// With NAXIS given (`axes` of them), the second and third axes must agree with it, or a
// reader would see other data than are written (or no file at all, for an axis it counts
// without a card). `values` holds BITPIX and NAXIS1 to NAXIS3. Why not; empty when they agree.
std::string AxesDisagree(const HeaderModel& header, const std::int64_t (&values)[4],
                         std::int64_t axes) {
    for (std::int64_t k = 2; k <= 3; ++k) {
        const std::string keyword = "NAXIS" + std::to_string(k);
        const bool has_card = header.HasValue(keyword);
        if (k <= axes && !has_card)
            return "NAXIS is " + std::to_string(axes) + " but the header has no " + keyword;
        if (k > axes && has_card && values[k] != 1)
            return keyword + " is " + std::to_string(values[k]) + " but NAXIS is " +
                   std::to_string(axes);
    }
    return {};
}

// Multiplies the layout's frame count by every axis from the fourth to NAXIS (`axes`). Why
// it cannot: an axis unreadable or not positive, or a count beyond 64 bits; empty when done.
std::string CountExtraAxes(const HeaderModel& header, std::int64_t axes, DataLayout& layout) {
    for (std::int64_t k = 4; k <= axes; ++k) {
        const std::string keyword = "NAXIS" + std::to_string(k);
        const auto whole = header.Whole(keyword);
        if (!whole) return "the header has no readable " + keyword;
        if (*whole <= 0) return keyword + " is " + std::to_string(*whole);
        if (__builtin_mul_overflow(layout.frames, std::int64_t{*whole}, &layout.frames))
            return "the header asks for more data than a file can hold";
    }
    return {};
}

// Sets the layout's row, frame and data sizes in bytes. Why it cannot: more data than a file
// can hold (kMaxDataBytes) or a row beyond kMaxRowBytes; empty when done.
std::string CountBytes(DataLayout& layout) {
    const std::int64_t sample = std::abs(layout.bitpix) / 8;
    if (__builtin_mul_overflow(layout.columns, sample, &layout.row_bytes) ||
        __builtin_mul_overflow(layout.row_bytes, layout.rows, &layout.frame_bytes) ||
        __builtin_mul_overflow(layout.frame_bytes, layout.frames, &layout.data_bytes) ||
        layout.data_bytes > kMaxDataBytes)
        return "the header asks for more data than a file can hold (" +
               std::to_string(layout.columns) + " x " + std::to_string(layout.rows) + " x " +
               std::to_string(layout.frames) + " samples)";
    if (layout.row_bytes > kMaxRowBytes)
        return "the header asks for rows of " + std::to_string(layout.row_bytes) +
               " bytes (at most " + std::to_string(kMaxRowBytes) + ")";
    return {};
}

}  // namespace

Result<DataLayout> CheckDataLayout(std::string_view headerText, const std::string& path) {
    return CheckDataLayout(HeaderModel::Parse(headerText), path);
}

Result<DataLayout> CheckDataLayout(const HeaderModel& header, const std::string& path) {
    const std::string name = ShownName(path);
    auto fail = [&](const std::string& why) {
        return Status::Error(name + ": " + why + "; nothing written");
    };
    if (header.Blank()) return fail("the header is empty");
    struct Need {
        unsigned mask;
        const char* keyword;
    };
    static constexpr Need kNeeds[] = {
        {kBitpix, "BITPIX"}, {kNaxis1, "NAXIS1"}, {kNaxis2, "NAXIS2"}, {kNaxis3, "NAXIS3"}};
    std::int64_t values[4] = {};
    for (std::size_t i = 0; i < std::size(kNeeds); ++i) {
        if (i == 1 && header.Number("NAXIS") == 0.0) {
            // NAXIS = 0: a primary HDU without data (extensions may follow).
            DataLayout empty;
            empty.bitpix = static_cast<std::int32_t>(values[0]);
            if (std::string why = UnsupportedBitpix(empty.bitpix); !why.empty()) return fail(why);
            return empty;
        }
        HeaderValues v = GetHeaderValues(header, kNeeds[i].mask);
        const auto& value = i == 0 ? v.bitpix : i == 1 ? v.naxis1 : i == 2 ? v.naxis2 : v.naxis3;
        if (!value) return fail(std::string("the header has no readable ") + kNeeds[i].keyword);
        values[i] = *value;
    }
    DataLayout layout;
    layout.bitpix = static_cast<std::int32_t>(values[0]);
    if (std::string why = UnsupportedBitpix(layout.bitpix); !why.empty()) return fail(why);
    layout.columns = values[1];
    layout.rows = values[2];
    layout.frames = values[3];
    for (std::size_t i = 1; i < 4; ++i)
        if (values[i] <= 0)
            return fail(std::string(kNeeds[i].keyword) + " is " + std::to_string(values[i]));
    // The data are NAXIS1 x NAXIS2 frames; every axis from the third on multiplies their count.
    const auto naxis = header.Number("NAXIS");
    const std::int64_t axes = naxis ? std::clamp<std::int64_t>(std::llround(*naxis), 0, 999) : 0;
    if (naxis)
        if (std::string why = AxesDisagree(header, values, axes); !why.empty()) return fail(why);
    if (std::string why = CountExtraAxes(header, axes, layout); !why.empty()) return fail(why);
    if (std::string why = CountBytes(layout); !why.empty()) return fail(why);
    return layout;
}

namespace {

// Refuses data larger than the free space of the target's file system, before anything is
// written (a header typo must not fill the disk). No answer from the file system: no check.
Status CheckFreeSpace(const std::string& path, std::int64_t bytes) {
    auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    struct statvfs fs {};
    // An unnamed scratch file's path leads to its file system; its folder would be /proc's.
    if (statvfs((IsUnnamedScratch(path) ? path : dir).c_str(), &fs) != 0) return Status::Ok();
    // A file system without blocks (/proc, /sys) has no size to tell; writing says what fails.
    if (fs.f_blocks == 0) return Status::Ok();
    const unsigned __int128 free_bytes = static_cast<unsigned __int128>(fs.f_bavail) * fs.f_frsize;
    if (static_cast<unsigned __int128>(bytes) <= free_bytes) return Status::Ok();
    return Status::Error(ShownName(path) + ": the header asks for " + std::to_string(bytes) +
                         " bytes of data, the folder's file system has " +
                         std::to_string(static_cast<std::uint64_t>(free_bytes)) +
                         " free; nothing written");
}

// The warning for scaling cards of a (Custom) header that the writer does not apply: readers
// see BZERO + BSCALE x the stored sample, and samples equal to BLANK as undefined, while the
// samples are stored as the data file holds them. Empty when there are none.
std::string ScalingWarning(const HeaderModel& header, bool offsetApplied, const std::string& path) {
    std::string said;
    int cards = 0;
    auto add = [&](const char* keyword) {
        AppendListed(said, std::string(keyword) + " " + header.Find(keyword)->value);
        ++cards;
    };
    const auto bscale = header.Number("BSCALE");
    const auto bzero = header.Number("BZERO");
    if (bscale && *bscale != 1) add("BSCALE");
    if (bzero && *bzero != 0 && !offsetApplied) add("BZERO");
    if (header.HasValue("BLANK")) add("BLANK");
    if (said.empty()) return said;
    return ShownName(path) + ": the header's " + said + (cards == 1 ? " changes" : " change") +
           " the values readers see (BZERO + BSCALE x the stored sample; a sample equal "
           "to BLANK is undefined); the samples are stored as the data file holds them";
}

// The warning for frames whose size differs from the header's: what is cut off, what is
// filled with zeros.
std::string SizeMismatchWarning(const std::string& path, const DataLayout& layout,
                                const FrameLayout& shape) {
    std::string text = ShownName(path) + ": the header asks for frames of " +
                       Dims(layout.columns, layout.rows) + ", the data file's are " +
                       Dims(shape.columns, shape.rows);
    if (shape.columns > layout.columns || shape.rows > layout.rows)
        text += "; the data beyond the header's frame are left out";
    if (shape.columns < layout.columns || shape.rows < layout.rows)
        text += "; samples beyond the data file's frame are 0";
    return text;
}

}  // namespace

namespace {

// The layout the header asks for, checked against the data file and the free space; warns
// when the header asks for fewer frames than the data file holds.
Result<DataLayout> PlanWrite(const HeaderModel& header, DataDocument& document,
                             const std::string& path, Reporter& reporter) {
    if (auto problem = FindHeaderProblem(header, HeaderCheck::kComplete))
        return Status::Error(DescribeProblem(ShownName(path), *problem) + "; nothing written");
    auto checked = CheckDataLayout(header, path);
    if (!checked) return checked.status();
    const DataLayout& layout = *checked;
    auto held = document.GetParam(doc_param::kFrames).ToInt32();
    if (held && layout.frames > *held)
        return Status::Error(ShownName(path) + ": header asks for " +
                             std::to_string(layout.frames) + " frames, the data file holds " +
                             std::to_string(*held));
    if (Status s = CheckFreeSpace(path, layout.data_bytes); !s) return s;
    if (held && layout.frames > 0 && layout.frames < *held)  // no primary data: none cut off
        reporter.Warning(ShownName(path) + ": the header asks for " +
                         std::to_string(layout.frames) + " of the data file's " +
                         std::to_string(*held) + " frames; the others are left out");
    return checked;
}

// Encodes the layout's frames from the document into the output: streamed by rows where
// the document reads them so, else a frame at a time. Warns once when the data file's
// frames differ in size from the header's.
Status WriteFrames(DataDocument& document, const DataLayout& layout, FrameEncoder& encoder,
                   TempOutput& out, const std::string& path, Reporter& reporter) {
    RowRangeReader* rows = layout.frames > 0 ? document.RowReader() : nullptr;
    Frame frame;
    bool warned_size = false;
    for (std::int64_t f = 1; f <= layout.frames && out.ok(); ++f) {
        FrameLayout shape;
        if (rows) {
            auto got = rows->Layout(f);
            if (!got) return got.status();
            shape = *got;
        } else {
            if (Status s = document.GetFrame(f, frame); !s) return s;
            shape = {frame.Type(), frame.Columns(), frame.Rows()};
        }
        if (!warned_size && (shape.columns != layout.columns || shape.rows != layout.rows)) {
            reporter.Warning(SizeMismatchWarning(path, layout, shape));
            warned_size = true;
        }
        if (rows) {
            if (Status s = StreamFrame(*rows, f, shape, encoder, out); !s) return s;
        } else {
            AppendFrame(frame, encoder, out);
        }
    }
    return Status::Ok();
}

}  // namespace

Result<WriteOutcome> WriteFitsFile(std::string_view headerText, DataDocument& document,
                                   const std::string& path, Reporter& reporter,
                                   const ByteProgress& progress,
                                   const ExtensionWriter& extensions) {
    return WriteFitsFile(HeaderModel::Parse(headerText), document, path, reporter, progress,
                         extensions);
}

Result<WriteOutcome> WriteFitsFile(const HeaderModel& header, DataDocument& document,
                                   const std::string& path, Reporter& reporter,
                                   const ByteProgress& progress,
                                   const ExtensionWriter& extensions) {
    auto planned = PlanWrite(header, document, path, reporter);
    if (!planned) return planned.status();
    const DataLayout& layout = *planned;
    const bool offset = IsUnsignedOffset(header, document);
    if (!offset && NeedsUnsignedOffset(document))
        return Status::Error(ShownName(path) +
                             ": unsigned 32-bit data are written only as BITPIX "
                             "32 with BZERO " +
                             std::to_string(UnsignedZero(32)) + " (--bzero)");

    TempOutput out(path);
    if (!out.ok()) return Status::Error(out.error());
    const std::string block = header.Block();
    out.SetProgress(progress, static_cast<std::int64_t>(block.size()) + layout.data_bytes +
                                  BlockPadding(layout.data_bytes));
    out.Append(block);

    FrameEncoder encoder(layout.bitpix, layout.columns, layout.rows, HoldsUnsigned16(document));
    encoder.SetUnsignedOffset(offset);
    if (std::string said = ScalingWarning(header, offset, path); !said.empty())
        reporter.Warning(said);
    for (const std::string& cut : CutComments(header))
        reporter.Warning(ShownName(path) + ": " + cut);
    if (Status s = WriteFrames(document, layout, encoder, out, path, reporter); !s) return s;
    out.AppendZeros(BlockPadding(out.Written()));
    if (extensions && out.ok())
        if (Status s = extensions(out); !s) return s;
    out.Commit();
    if (!out.ok()) return Status::Error(out.error());
    if (encoder.Clamped() > 0)
        reporter.Warning(ShownName(path) + ": " + std::to_string(encoder.Clamped()) +
                         " samples did not fit BITPIX " + std::to_string(layout.bitpix) +
                         " and were clamped to the nearest value");
    return WriteOutcome{true, encoder.Clamped()};
}

}  // namespace fits
