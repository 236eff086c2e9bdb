#include "fits/convert/fits_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <type_traits>

#include "fits/header/header_text.h"
#include "fits/input/header_reader.h"

namespace fits {
namespace {

constexpr std::int64_t kBlock = 2880;
constexpr std::size_t kWriteBuffer = 4 << 20;  // one reused buffer; a few MiB is fastest

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

inline void StoreBig(std::uint8_t* out, std::uint8_t v) {
    *out = v;
}
inline void StoreBig(std::uint8_t* out, std::int16_t v) {
    auto u = __builtin_bswap16(static_cast<std::uint16_t>(v));
    std::memcpy(out, &u, 2);
}
inline void StoreBig(std::uint8_t* out, std::int32_t v) {
    auto u = __builtin_bswap32(static_cast<std::uint32_t>(v));
    std::memcpy(out, &u, 4);
}
inline void StoreBig(std::uint8_t* out, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    u = __builtin_bswap32(u);
    std::memcpy(out, &u, 4);
}

// Encodes n elements as big-endian Dst. `unsigned16` applies the rule that 16-bit elements
// written as 32-bit samples hold unsigned values (below 0 means plus 65,536).
template <class Dst, class Src>
void EncodeRun(const Src* src, std::int64_t n, std::uint8_t* out, std::int64_t& clamped,
               bool unsigned16) {
    if constexpr (std::is_same_v<Src, std::int16_t> && std::is_same_v<Dst, std::int32_t>) {
        if (unsigned16) {
            for (std::int64_t i = 0; i < n; ++i)
                StoreBig(out + 4 * i,
                         static_cast<std::int32_t>(static_cast<std::uint16_t>(src[i])));
            return;
        }
    }
    std::int64_t local = 0;
    for (std::int64_t i = 0; i < n; ++i)
        StoreBig(out + static_cast<std::int64_t>(sizeof(Dst)) * i, Convert<Dst>(src[i], local));
    clamped += local;
}

template <class Src>
void EncodeElements(std::int32_t bitpix, const Src* src, std::int64_t n, std::uint8_t* out,
                    std::int64_t& clamped) {
    const bool unsigned16 = std::is_same_v<Src, std::int16_t>;
    switch (bitpix) {
        case 8:
            EncodeRun<std::uint8_t>(src, n, out, clamped, false);
            break;
        case 16:
            EncodeRun<std::int16_t>(src, n, out, clamped, false);
            break;
        case 32:
            EncodeRun<std::int32_t>(src, n, out, clamped, unsigned16);
            break;
        case -32:
            EncodeRun<float>(src, n, out, clamped, false);
            break;
        default:
            break;
    }
}

// 16-bit elements holding unsigned values, stored as value - 32768 (BZERO 32768): the
// unsigned value with its top bit flipped, as a signed 16-bit sample.
void EncodeOffsetUnsigned(const std::int16_t* src, std::int64_t n, std::uint8_t* out) {
    for (std::int64_t i = 0; i < n; ++i)
        StoreBig(out + 2 * i,
                 static_cast<std::int16_t>(static_cast<std::uint16_t>(src[i]) ^ 0x8000u));
}

bool IsSupportedBitpix(std::int32_t bitpix) {
    return bitpix == 8 || bitpix == 16 || bitpix == 32 || bitpix == -32;
}

// ---- Output --------------------------------------------------------------------------------

std::string SystemReason() {
    return std::strerror(errno);
}

// A temporary file beside the target, removed unless committed by renaming it over the
// target.
class TempOutput : public FitsSink {
  public:
    explicit TempOutput(const std::string& target) : target_(target) {
        std::filesystem::path t(target);
        std::string dir = t.has_parent_path() ? t.parent_path().string() : ".";
        temp_ = dir + "/." + t.filename().string() + ".XXXXXX";
        fd_ = mkstemp(temp_.data());
        created_ = fd_ >= 0;
        if (!created_) error_ = target_ + ": cannot create: " + SystemReason();
        buffer_.resize(kWriteBuffer);
    }
    ~TempOutput() {
        if (fd_ >= 0) close(fd_);
        if (created_ && !committed_) unlink(temp_.c_str());
    }
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::int64_t Written() const override { return written_; }

    // Space for n more bytes in the buffer (flushing first when needed).
    std::uint8_t* Reserve(std::size_t n) override {
        if (used_ + n > buffer_.size()) {
            Flush();
            if (n > buffer_.size()) buffer_.resize(n);
        }
        std::uint8_t* at = buffer_.data() + used_;
        used_ += n;
        written_ += static_cast<std::int64_t>(n);
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
        for (std::size_t done = 0; ok() && done < used_;) {
            ssize_t n = write(fd_, buffer_.data() + done, used_ - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                error_ = target_ + ": cannot write: " + SystemReason();
            else
                done += static_cast<std::size_t>(n);
        }
        used_ = 0;
    }
    // Completes the file and renames it over the target.
    void Commit() {
        Flush();
        if (!ok()) return;
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
        if (close(fd_) != 0) error_ = target_ + ": cannot write: " + SystemReason();
        fd_ = -1;
        if (ok() && std::rename(temp_.c_str(), target_.c_str()) != 0)
            error_ = target_ + ": cannot replace: " + SystemReason();
        committed_ = ok();
    }

  private:
    std::string target_, temp_, error_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;
};

std::string Dims(std::int64_t a, std::int64_t b) {
    return std::to_string(a) + " x " + std::to_string(b);
}

}  // namespace

void FitsSink::Append(std::string_view bytes) {
    if (!bytes.empty()) std::memcpy(Reserve(bytes.size()), bytes.data(), bytes.size());
}

void FitsSink::PadBlock() {
    const auto n = static_cast<std::size_t>((kBlock - Written() % kBlock) % kBlock);
    if (n > 0) std::memset(Reserve(n), 0, n);
}

bool IsUnsignedOffset(std::string_view headerText, DataDocument& document) {
    constexpr std::int32_t kUnsigned16Code = 6;
    HeaderValues v = GetHeaderValues(headerText, kBitpix);
    auto bzero = ParseNumber(GetHeaderValue(headerText, "BZERO"));
    return v.bitpix == 16 && bzero == 32768.0 &&
           document.GetParam(doc_param::kDataType).ToInt32() == kUnsigned16Code;
}

HeaderValues GetHeaderValues(std::string_view headerText, unsigned which) {
    HeaderValues values;
    struct Step {
        unsigned mask;
        const char* keyword;
        bool empty_is_one;
        std::optional<std::int32_t> HeaderValues::*field;
    };
    static constexpr Step kOrder[] = {
        {kNaxis1, "NAXIS1", false, &HeaderValues::naxis1},
        {kBitpix, "BITPIX", false, &HeaderValues::bitpix},
        {kNaxis2, "NAXIS2", true, &HeaderValues::naxis2},
        {kNaxis3, "NAXIS3", true, &HeaderValues::naxis3},
    };
    for (const Step& step : kOrder) {
        if (!(which & step.mask)) continue;
        std::string text = GetHeaderValue(headerText, step.keyword);
        if (text.empty() && step.empty_is_one) {
            values.*step.field = 1;
            continue;
        }
        auto number = ParseNumber(text);
        auto whole = number ? RoundToInt32(*number) : std::nullopt;
        if (!whole) break;
        values.*step.field = whole;
    }
    return values;
}

std::string BuildHeaderBlock(std::string_view headerText) {
    std::string block;
    ForEachLine(headerText, [&](Pos, std::string_view line) {
        auto end = line.find(kLineEnd);
        if (end != std::string_view::npos) line = line.substr(0, end);
        if (!line.empty()) {
            std::string card(line);
            FitWidth(card, 80);
            block += card;
        }
        return true;
    });
    block += "END";
    FitWidth(block,
             static_cast<Pos>(block.size()) + kBlock - static_cast<Pos>(block.size()) % kBlock);
    return block;
}

FrameEncoder::FrameEncoder(std::int32_t bitpix, std::int64_t columns, std::int64_t rows)
    : bitpix_(bitpix),
      columns_(std::max<std::int64_t>(columns, 0)),
      rows_(std::max<std::int64_t>(rows, 0)),
      sample_bytes_(std::abs(static_cast<std::int64_t>(bitpix)) / 8),
      supported_(IsSupportedBitpix(bitpix)) {}

void FrameEncoder::EncodeRows(const Frame& frame, std::int64_t first_row, std::int64_t count,
                              std::uint8_t* out) {
    const std::int64_t row_bytes = columns_ * sample_bytes_;
    const std::int64_t n = supported_ ? std::min(columns_, frame.Columns()) : 0;
    for (std::int64_t r = first_row; r < first_row + count; ++r, out += row_bytes) {
        if (r >= frame.Rows() || n == 0) {
            std::memset(out, 0, static_cast<std::size_t>(row_bytes));
            continue;
        }
        const std::int64_t at = r * frame.Columns();
        switch (frame.Type()) {
            case ElementType::UInt8:
                EncodeElements(bitpix_, frame.Elements<std::uint8_t>().data() + at, n, out,
                               clamped_);
                break;
            case ElementType::Int16:
                if (unsigned_offset_ && bitpix_ == 16)
                    EncodeOffsetUnsigned(frame.Elements<std::int16_t>().data() + at, n, out);
                else
                    EncodeElements(bitpix_, frame.Elements<std::int16_t>().data() + at, n, out,
                                   clamped_);
                break;
            case ElementType::Int32:
                EncodeElements(bitpix_, frame.Elements<std::int32_t>().data() + at, n, out,
                               clamped_);
                break;
            case ElementType::Float32:
                EncodeElements(bitpix_, frame.Elements<float>().data() + at, n, out, clamped_);
                break;
        }
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
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(encoder.FrameBytes()), 0);
    if (!encoder.Supported())
        reporter.MessageBox("Data type not supported.", "FITS");
    else
        encoder.EncodeRows(frame, 0, *v.naxis2, bytes.data());
    return bytes;
}

Result<WriteOutcome> WriteFitsFile(std::string_view headerText, DataDocument& document,
                                   const std::string& path, Reporter& reporter,
                                   const FrameProgress& progress,
                                   const ExtensionWriter& extensions) {
    HeaderValues v = GetHeaderValues(headerText, kNaxis3 | kBitpix);
    if (!v.bitpix || !v.naxis3 || *v.naxis3 <= 0) return WriteOutcome{};
    const std::int64_t frames = *v.naxis3;
    HeaderValues size = GetHeaderValues(headerText, kNaxis1 | kNaxis2 | kBitpix);
    const bool with_data =
        size.naxis1 && size.naxis2 && size.bitpix && *size.naxis1 > 0 && *size.naxis2 > 0;
    if (with_data) {
        auto held = document.GetParam(doc_param::kFrames).ToInt32();
        if (held && frames > *held)
            return Status::Error(path + ": header asks for " + std::to_string(frames) +
                                 " frames, the data file holds " + std::to_string(*held));
    }

    TempOutput out(path);
    if (!out.ok()) return Status::Error(out.error());
    std::string block = BuildHeaderBlock(headerText);
    out.Append(block);

    FrameEncoder encoder(*v.bitpix, with_data ? *size.naxis1 : 0, with_data ? *size.naxis2 : 0);
    encoder.SetUnsignedOffset(IsUnsignedOffset(headerText, document));
    const std::int64_t row_bytes = with_data ? *size.naxis1 * std::abs(*v.bitpix) / 8 : 0;
    const std::int64_t rows_per_chunk =
        row_bytes > 0
            ? std::max<std::int64_t>(1, static_cast<std::int64_t>(kWriteBuffer) / row_bytes)
            : 1;
    Frame frame;
    bool warned_size = false;
    for (std::int64_t f = 1; f <= frames && with_data && out.ok(); ++f) {
        if (Status s = document.GetFrame(f, frame); !s) return s;
        if (!warned_size && (frame.Columns() != *size.naxis1 || frame.Rows() != *size.naxis2)) {
            reporter.Warning(path + ": the header asks for frames of " +
                             Dims(*size.naxis1, *size.naxis2) + ", the data file's are " +
                             Dims(frame.Columns(), frame.Rows()) + "; samples beyond them are 0");
            warned_size = true;
        }
        if (!encoder.Supported()) {
            reporter.MessageBox("Data type not supported.", "FITS");
            out.AppendZeros(encoder.FrameBytes());
        } else {
            for (std::int64_t r = 0; r < *size.naxis2; r += rows_per_chunk) {
                std::int64_t count = std::min(rows_per_chunk, *size.naxis2 - r);
                encoder.EncodeRows(frame, r, count,
                                   out.Reserve(static_cast<std::size_t>(count * row_bytes)));
            }
        }
        if (progress && !progress(f, frames)) return Status::Error(path + ": cancelled");
    }
    out.AppendZeros((kBlock - out.Written() % kBlock) % kBlock);
    if (extensions && out.ok())
        if (Status s = extensions(out); !s) return s;
    out.Commit();
    if (!out.ok()) return Status::Error(out.error());
    if (encoder.Clamped() > 0)
        reporter.Warning(path + ": " + std::to_string(encoder.Clamped()) +
                         " samples did not fit BITPIX " + std::to_string(*v.bitpix) +
                         " and were clamped to the nearest value");
    return WriteOutcome{true, encoder.Clamped()};
}

}  // namespace fits
