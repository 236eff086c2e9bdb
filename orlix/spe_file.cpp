#include "orlix/spe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>

#include "fits/automation/c_file.h"
#include "fits/automation/data_types.h"
#include "orlix/spe_layout.h"
#include "orlix/spe_metadata.h"

namespace orlix {

static_assert(std::endian::native == std::endian::little,
              "SPE files are little-endian; frames are copied without swapping");

namespace {

using namespace spe_layout;

// A footer larger than this is not an SPE footer (real ones are kilobytes to a few MiB).
constexpr std::int64_t kMaxFooterBytes = 64 << 20;

using fits::SystemReason;

Status Fail(const std::string& path, const std::string& reason) {
    return Status::Error(fits::ShownName(path) + ": " + reason);
}

Status NotSpe(const std::string& path, const std::string& why) {
    return Fail(path, "not an SPE file: " + why);
}

bool SeekTo(std::FILE* file, std::int64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// Reads exactly `length` bytes at `offset` of the file: the data path bypasses the stream's
// buffer (one copy, from the page cache into the caller's memory). An empty reason means the
// file ended early.
bool PreadAll(int fd, std::uint8_t* out, std::size_t length, std::int64_t offset,
              std::string& reason) {
    while (length > 0) {
        ssize_t n = pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = n < 0 ? SystemReason() : "file ends early";
            return false;
        }
        out += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool PwriteAll(int fd, const std::uint8_t* data, std::size_t length, std::int64_t offset) {
    while (length > 0) {
        ssize_t n = pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// Today's date as the SPE header keeps it, "DDMonYYYY", with English month names.
std::string SpeDate(const std::tm& now) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[16];
    std::snprintf(text, sizeof text, "%02d%s%04d", now.tm_mday, kMonths[now.tm_mon % 12],
                  now.tm_year + 1900);
    return text;
}

// Converts the frame's elements to `type`, rounding and clamping (for PutFrame of a frame
// whose element type differs from the file's).
Frame ConvertFrame(const Frame& frame, fits::ElementType type) {
    Frame out(type, frame.Columns(), frame.Rows());
    for (std::int64_t r = 0; r < frame.Rows(); ++r)
        for (std::int64_t c = 0; c < frame.Columns(); ++c)
            out.Set(c, r, frame.At(c, r));
    return out;
}

}  // namespace

namespace {

struct DatatypeRow {
    SpeDatatype datatype;
    int size;
    const char* name;
    std::optional<fits::ElementType> element;  // none: not read
    bool is_unsigned;
};

// Every SPE datatype this reader knows; the converter reads those with an element.
constexpr DatatypeRow kDatatypes[] = {
    {kSpeFloat32, 4, "32-bit float", fits::ElementType::kFloat32, false},
    {kSpeInt32, 4, "signed 32-bit", fits::ElementType::kInt32, false},
    {kSpeInt16, 2, "signed 16-bit", fits::ElementType::kInt16, false},
    {kSpeUInt16, 2, "unsigned 16-bit", fits::ElementType::kInt16, true},
    {kSpeFloat64, 8, "64-bit float", std::nullopt, false},
    {kSpeUInt8, 1, "unsigned 8-bit", fits::ElementType::kUInt8, false},
    {kSpeUInt32, 4, "unsigned 32-bit", fits::ElementType::kInt32, true},
};

const DatatypeRow* FindDatatype(std::int16_t datatype) {
    for (const DatatypeRow& row : kDatatypes)
        if (row.datatype == datatype) return &row;
    return nullptr;
}

}  // namespace

std::int32_t DatatypeToCode(std::int16_t datatype) {
    const DatatypeRow* row = FindDatatype(datatype);
    if (!row || !row->element) return fits::type_code::kUnsupported;
    return fits::ElementToTypeCode(*row->element, row->is_unsigned);
}

std::optional<std::int16_t> CodeToDatatype(std::int32_t code) {
    for (const DatatypeRow& row : kDatatypes)
        if (row.element && DatatypeToCode(row.datatype) == code) return row.datatype;
    return std::nullopt;
}

int DatatypeSize(std::int16_t datatype) {
    const DatatypeRow* row = FindDatatype(datatype);
    return row ? row->size : 0;
}

std::string DatatypeName(std::int16_t datatype) {
    const DatatypeRow* row = FindDatatype(datatype);
    return row ? row->name : "unknown";
}

std::optional<fits::ElementType> DatatypeElement(std::int16_t datatype) {
    const DatatypeRow* row = FindDatatype(datatype);
    return row ? row->element : std::nullopt;
}

namespace {

// Reads and checks the 4100-byte header; fills everything but the frame layout.
// "1 frame", "2 frames".
std::string Frames(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " frame" : " frames");
}

Status ParseHeader(const std::string& path, const std::uint8_t* header, SpeInfo& info) {
    if (Get<std::uint32_t>(header, kIdentity) != kIdentityWord)
        return NotSpe(path, "the header lacks the SPE format's identity mark");
    info.datatype = Get<std::int16_t>(header, kDatatype);
    if (DatatypeSize(info.datatype) == 0)
        return NotSpe(path, "unknown sample type " + std::to_string(info.datatype));
    info.columns = Get<std::uint16_t>(header, kXdim);
    info.rows = Get<std::uint16_t>(header, kYdim);
    if (info.columns == 0 || info.rows == 0)
        return NotSpe(path, "its frames are " + std::to_string(info.columns) + " x " +
                                std::to_string(info.rows) + " samples");
    info.header_frames = Get<std::int32_t>(header, kNumFrames);
    if (info.header_frames < 1) return Fail(path, "header says " + Frames(info.header_frames));
    info.version = Get<float>(header, kVersion);
    float exposure = Get<float>(header, kExposure);
    info.exposure_seconds = std::isfinite(exposure) ? exposure : 0.0;
    if (!std::isfinite(exposure))
        info.exposure_problem = "the header's exposure time is " +
                                std::string(std::isnan(exposure) ? "not a number" : "infinite") +
                                "; the exposure is taken as 0";
    char date[10];
    std::memcpy(date, header + kDate, sizeof date);
    info.date.assign(date, strnlen(date, sizeof date));
    info.metadata = ReadHeaderMetadata(header, info.columns, info.rows);
    return Status::Ok();
}

}  // namespace

namespace {

// The time stamp of `item` in the metadata block of frame f (from 0), when it can be read.
std::optional<long double> StampAt(std::FILE* file, const SpeInfo& info, const MetaItem& item,
                                   std::int64_t f) {
    std::int64_t ticks = 0;
    const std::int64_t at =
        kHeaderSize + f * info.frame_stride + info.FrameDataBytes() + item.offset;
    if (pread(fileno(file), &ticks, sizeof ticks, at) != static_cast<ssize_t>(sizeof ticks))
        return std::nullopt;
    return StampSeconds(item, ticks);
}

bool HasZone(std::string_view iso) {
    return iso.ends_with('Z') ||
           (iso.size() > 19 && (iso[iso.size() - 6] == '+' || iso[iso.size() - 6] == '-'));
}

// The exposure in effect, where the file marks its exposure setting not relevant: every
// frame's time from ExposureStarted to ExposureEnded, when all frames agree to the stamps'
// resolution.
void ReadExposureInEffect(std::FILE* file, SpeInfo& info) {
    const MetaItem* start = info.meta_layout->Find(MetaItem::Kind::kExposureStarted);
    const MetaItem* end = info.meta_layout->Find(MetaItem::Kind::kExposureEnded);
    if (!start || !end) return;
    std::optional<long double> first;
    const long double tick = 1.0L / std::max(start->resolution, end->resolution);
    for (std::int64_t f = 0; f < info.frames; ++f) {
        auto a = StampAt(file, info, *start, f), b = StampAt(file, info, *end, f);
        if (!a || !b || *b < *a) return;
        if (first && std::fabs((*b - *a) - *first) > tick / 2) return;
        if (!first) first = *b - *a;
    }
    if (!first) return;
    info.exposure_seconds = static_cast<double>(std::round(*first / tick) * tick);
    info.exposure_known = true;
    info.exposure_problem.clear();
}

// The observation began when the first frame's exposure started and ended when the last
// one's ended, where the frames' metadata blocks record it: the start replaces the footer's
// time (which the file was saved at, seconds later).
void ReadFrameTimes(std::FILE* file, SpeInfo& info) {
    if (!info.meta_layout || info.frames < 1) return;
    fits::DocumentMetadata& meta = info.metadata;
    if (const MetaItem* start = info.meta_layout->Find(MetaItem::Kind::kExposureStarted))
        if (auto seconds = StampAt(file, info, *start, 0))
            if (auto time = SecondsTime(*seconds, HasZone(start->absolute_time),
                                        "start of the first exposure", meta.notes, "DATE-OBS",
                                        LeapSecondStart(start->absolute_time),
                                        StampDecimals(start->resolution)))
                meta.time = time;
    if (!info.exposure_known) ReadExposureInEffect(file, info);
    if (const MetaItem* end = info.meta_layout->Find(MetaItem::Kind::kExposureEnded))
        if (auto seconds = StampAt(file, info, *end, info.frames - 1))
            meta.end_time = SecondsTime(
                *seconds, HasZone(end->absolute_time), "end of the last exposure", meta.notes,
                "DATE-END", LeapSecondStart(end->absolute_time), StampDecimals(end->resolution));
}

}  // namespace

namespace {

// A regular file opened for Open, and its size in bytes.
struct OpenedFile {
    fits::UniqueFile file;
    std::int64_t size = 0;
};

// Opens a regular file, read-only unless `writable`. Opened without blocking: a pipe or a
// device named like a data file must be refused, not waited for.
Result<OpenedFile> OpenRegularFile(const std::string& path, bool writable) {
    const int fd = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(path, "cannot open: " + SystemReason());
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        close(fd);
        return Fail(path, folder ? "is a folder" : "not a regular file");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, writable ? "r+b" : "rb");
    if (!file) {
        std::string reason = SystemReason();
        close(fd);
        return Fail(path, "cannot open: " + reason);
    }
    return OpenedFile{fits::UniqueFile(file), st.st_size};
}

// Reads the 4100-byte header from the start of a file of `size` bytes. A file shorter than
// that is truncated when it carries the format's identity mark, else no SPE file.
Status ReadHeaderBlock(const std::string& path, std::FILE* file, std::int64_t size,
                       std::uint8_t (&header)[kHeaderSize]) {
    if (size < kHeaderSize) {
        std::uint8_t head[kIdentity + 4];
        if (size >= static_cast<std::int64_t>(sizeof head) &&
            std::fread(head, 1, sizeof head, file) == sizeof head &&
            Get<std::uint32_t>(head, kIdentity) == kIdentityWord)
            return Fail(path, "truncated: the file ends at byte " + std::to_string(size) +
                                  ", within the 4100-byte SPE header");
        return NotSpe(path, "shorter than the 4100-byte SPE header");
    }
    if (std::fread(header, 1, kHeaderSize, file) != kHeaderSize)
        return Fail(path, "cannot read the header: " + SystemReason());
    return Status::Ok();
}

// Reads a version 3 file's XML footer, which the header places after the data, into `info`:
// the offset where the data end.
Result<std::int64_t> ReadXmlFooter(const std::string& path, std::FILE* file, std::int64_t size,
                                   const std::uint8_t* header, SpeInfo& info) {
    auto footer = Get<std::uint64_t>(header, kFooterOffset);
    if (footer > static_cast<std::uint64_t>(size))
        return Fail(path, "truncated: the XML footer should start at byte " +
                              std::to_string(footer) + ", the file ends at byte " +
                              std::to_string(size));
    if (footer < static_cast<std::uint64_t>(kHeaderSize))
        return Fail(path, "version 3.0 file with an XML footer offset outside the file");
    const auto data_end = static_cast<std::int64_t>(footer);
    if (size - data_end > kMaxFooterBytes) return Fail(path, "XML footer too large");
    std::string xml(static_cast<std::size_t>(size - data_end), '\0');
    if (!SeekTo(file, data_end) || std::fread(xml.data(), 1, xml.size(), file) != xml.size())
        return Fail(path, "cannot read the XML footer: " + SystemReason());
    if (Status s = ApplyXmlFooter(xml, info); !s) return Fail(path, s.message());
    return data_end;
}

}  // namespace

Result<std::unique_ptr<SpeFile>> SpeFile::Open(const std::string& path, bool writable) {
    auto opened = OpenRegularFile(path, writable);
    if (!opened) return opened.status();
    std::FILE* file = opened->file.get();
    const std::int64_t size = opened->size;
    std::uint8_t header[kHeaderSize];
    if (Status s = ReadHeaderBlock(path, file, size, header); !s) return s;

    SpeInfo info;
    info.path = path;
    if (Status s = ParseHeader(path, header, info); !s) return s;

    std::int64_t frame_bytes = info.columns * info.rows * DatatypeSize(info.datatype);
    std::int64_t data_end = size;
    info.frame_stride = frame_bytes;
    info.regions = {Region{0, info.columns, info.rows}};
    if (info.version >= 2.9995f) {
        auto footer_start = ReadXmlFooter(path, file, size, header, info);
        if (!footer_start) return footer_start.status();
        data_end = *footer_start;
        frame_bytes = info.FrameDataBytes();
    }
    const std::int64_t data_bytes = data_end - kHeaderSize;
    const std::int64_t whole =
        data_bytes < frame_bytes ? 0 : (data_bytes - frame_bytes) / info.frame_stride + 1;
    if (whole == 0)
        return Fail(path,
                    "truncated: header says " + Frames(info.header_frames) + ", file holds 0");
    // Some writers store a wrong NumFrames: the whole frames present count when fewer.
    info.frames = std::min(info.header_frames, whole);
    ReadFrameTimes(file, info);
    return std::unique_ptr<SpeFile>(new SpeFile(std::move(opened->file), std::move(info)));
}

namespace {

// Why an SPE file of this size and data type cannot be made; Ok when it can.
Status CheckNewSize(const std::string& path, std::int64_t columns, std::int64_t rows,
                    std::int64_t frames, std::int16_t datatype) {
    constexpr std::int64_t kMaxSide = std::numeric_limits<std::uint16_t>::max();
    if (columns < 1 || columns > kMaxSide || rows < 1 || rows > kMaxSide)
        return Fail(path, "cannot create an SPE file of " + std::to_string(columns) + " x " +
                              std::to_string(rows) + " (each side must be 1 to 65535)");
    if (frames < 1 || frames > std::numeric_limits<std::int32_t>::max())
        return Fail(path, "cannot create an SPE file of " + std::to_string(frames) + " frames");
    if (!DatatypeElement(datatype))
        return Fail(path, "data type " + std::to_string(datatype) + " (" + DatatypeName(datatype) +
                              ") cannot be created");
    return Status::Ok();
}

// Creates the file for reading and writing. Never over an existing file: a new document must
// not replace anyone's data.
Result<std::FILE*> CreateNewFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(path, "cannot create: " + SystemReason());
    std::FILE* file = fdopen(fd, "w+b");
    if (!file) {
        std::string reason = SystemReason();
        close(fd);
        unlink(path.c_str());
        return Fail(path, "cannot create: " + reason);
    }
    return file;
}

// Fills a zeroed header for one region of columns x rows (each at most 65535), dated now;
// the date as written.
std::string FillNewHeader(std::uint8_t* header, std::uint16_t w, std::uint16_t h,
                          std::int64_t frames, std::int16_t datatype, float exposure_seconds) {
    Put<std::uint16_t>(header, kChipWidth, w);
    Put<std::uint16_t>(header, kChipHeight, h);
    Put<float>(header, kExposure, exposure_seconds);
    std::time_t t = std::time(nullptr);
    std::tm local{}, utc{};
    localtime_r(&t, &local);
    gmtime_r(&t, &utc);
    std::string date = SpeDate(local);
    std::memcpy(header + kDate, date.data(), std::min<std::size_t>(date.size(), 9));
    std::strftime(reinterpret_cast<char*>(header + kLocalTime), 7, "%H%M%S", &local);
    std::strftime(reinterpret_cast<char*>(header + kUtcTime), 7, "%H%M%S", &utc);
    Put<std::int16_t>(header, kOldScanCount16, -1);
    Put<std::uint16_t>(header, kXdim, w);
    Put<std::int16_t>(header, kDatatype, datatype);
    Put<std::uint16_t>(header, kYdim, h);
    Put<std::int16_t>(header, kUnscrambled, 1);
    Put<std::int32_t>(header, kOldScanCount32, -1);
    std::memcpy(header + kSoftwareVersion, "orlix 1.0", 9);
    Put<std::int32_t>(header, kNumFrames, static_cast<std::int32_t>(frames));
    Put<std::int16_t>(header, kRegionCount, 1);
    const std::uint16_t region[6] = {1, w, 1, 1, h, 1};
    std::memcpy(header + kRegions, region, sizeof region);
    Put<float>(header, kVersion, 2.5f);
    Put<std::uint32_t>(header, kIdentity, kIdentityWord);
    Put<std::int16_t>(header, kLastValue, kLastValueWord);
    return date;
}

}  // namespace

Result<std::unique_ptr<SpeFile>> SpeFile::Create(const std::string& path, std::int64_t columns,
                                                 std::int64_t rows, std::int64_t frames,
                                                 std::int16_t datatype, float exposure_seconds) {
    if (Status s = CheckNewSize(path, columns, rows, frames, datatype); !s) return s;
    auto created = CreateNewFile(path);
    if (!created) return created.status();
    std::FILE* file = *created;

    std::uint8_t header[kHeaderSize] = {};
    const std::string date =
        FillNewHeader(header, static_cast<std::uint16_t>(columns), static_cast<std::uint16_t>(rows),
                      frames, datatype, exposure_seconds);
    const std::int64_t frame_bytes = columns * rows * DatatypeSize(datatype);
    const std::int64_t total = kHeaderSize + frames * frame_bytes;
    // The frames start as zeros: extending the file leaves them so without writing them.
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header || std::fflush(file) != 0 ||
        ftruncate(fileno(file), static_cast<off_t>(total)) != 0) {
        std::string reason = SystemReason();
        std::fclose(file);
        std::remove(path.c_str());
        return Fail(path, "cannot write: " + reason);
    }
    SpeInfo info;
    info.path = path;
    info.version = 2.5f;
    info.datatype = datatype;
    info.columns = columns;
    info.rows = rows;
    info.frames = info.header_frames = frames;
    info.frame_stride = frame_bytes;
    info.regions = {Region{0, columns, rows}};
    info.exposure_seconds = exposure_seconds;
    info.date = date;
    return std::unique_ptr<SpeFile>(new SpeFile(fits::UniqueFile(file), std::move(info)));
}

SpeFile::~SpeFile() = default;

Status SpeFile::CheckFrame(std::int64_t index) const {
    if (!DatatypeElement(info_.datatype))
        return Fail(info_.path, "data type " + std::to_string(info_.datatype) + " (" +
                                    DatatypeName(info_.datatype) + ") is not supported");
    if (index < 0 || index >= info_.frames)
        return Fail(info_.path, "frame " + std::to_string(index + 1) + " does not exist (" +
                                    std::to_string(info_.frames) + " frames)");
    return Status::Ok();
}

bool SpeInfo::RegionsDiffer() const {
    for (const Region& region : regions)
        if (region.width != regions.front().width) return true;
    return false;
}

std::int64_t SpeInfo::FrameDataBytes() const {
    std::int64_t bytes = 0;
    for (const Region& region : regions)
        bytes =
            std::max(bytes, region.offset + region.width * region.height * DatatypeSize(datatype));
    return bytes;
}

Status SpeFile::ReadRegion(std::int64_t index, std::size_t region, Frame& frame) {
    auto element = DatatypeElement(info_.datatype);
    if (Status s = CheckFrame(index); !s) return s;
    if (region >= info_.regions.size())
        return Fail(info_.path, "region " + std::to_string(region + 1) + " does not exist (" +
                                    std::to_string(info_.regions.size()) + " regions)");
    const Region& r = info_.regions[region];
    frame.Reshape(*element, r.width, r.height);
    auto bytes = frame.Bytes();
    std::string reason;
    if (!PreadAll(fd_, bytes.data(), bytes.size(),
                  kHeaderSize + index * info_.frame_stride + r.offset, reason))
        return Fail(info_.path, "cannot read frame " + std::to_string(index + 1) + ": " + reason);
    return Status::Ok();
}

Status SpeFile::ReadFrame(std::int64_t index, Frame& frame) {
    auto element = DatatypeElement(info_.datatype);
    if (Status s = CheckFrame(index); !s) return s;
    if (Status s = CheckWholeFrames(); !s) return s;
    frame.Reshape(*element, info_.columns, info_.rows);  // every element is read below
    return ReadRows(index, 0, info_.rows, frame.Bytes());
}

Status SpeFile::CheckWholeFrames() const {
    for (std::size_t k = 0; k < info_.regions.size(); ++k)
        if (info_.regions[k].width != info_.columns)
            return Fail(info_.path, "region " + std::to_string(k + 1) + " " +
                                        std::to_string(info_.regions[k].width) +
                                        " wide in a frame " + std::to_string(info_.columns) +
                                        " wide: its regions can only be read one by one");
    return Status::Ok();
}

std::optional<fits::FrameTable> SpeFile::ReadFrameTable(std::vector<std::string>& notes) {
    if (!info_.meta_layout || info_.meta_layout->items.empty() || info_.frames < 1)
        return std::nullopt;
    const MetaLayout& layout = *info_.meta_layout;
    // Blocks of at most the stride's room (checked when the footer was read) for at most
    // 2^31 frames: the product fits, and the file holds every frame present.
    std::vector<std::uint8_t> blocks(static_cast<std::size_t>(layout.bytes * info_.frames));
    for (std::int64_t f = 0; f < info_.frames; ++f) {
        std::string reason;
        const std::int64_t at = kHeaderSize + f * info_.frame_stride + info_.FrameDataBytes();
        if (!PreadAll(fd_, blocks.data() + f * layout.bytes, static_cast<std::size_t>(layout.bytes),
                      at, reason)) {
            notes.push_back("the metadata of frame " + std::to_string(f + 1) + " cannot be read (" +
                            reason + "); no per-frame table");
            return std::nullopt;
        }
    }
    // Time columns count from DATE-OBS where there is one, else from the stamps' own origin.
    std::string reference_iso;
    std::optional<long double> reference;
    if (info_.metadata.time) {
        reference_iso = info_.metadata.time->iso;
        reference = IsoSeconds(reference_iso);
    }
    for (const MetaItem& item : layout.items) {
        if (reference || item.resolution == 0) continue;
        reference = StampSeconds(item, 0);
        if (reference) {
            std::vector<std::string> ignored;
            if (auto time = SecondsTime(*reference, true, "", ignored, "DATE-OBS", {},
                                        StampDecimals(item.resolution))) {
                reference_iso = time->iso;
                reference = IsoSeconds(reference_iso);
            }
        }
    }
    return BuildFrameTable(layout, blocks, info_.frames, reference.value_or(0), reference_iso,
                           notes);
}

Status SpeFile::ReadRows(std::int64_t index, std::int64_t first_row, std::int64_t count,
                         std::span<std::uint8_t> out) {
    if (Status s = CheckFrame(index); !s) return s;
    if (Status s = CheckWholeFrames(); !s) return s;
    const std::string which = "frame " + std::to_string(index + 1);
    if (first_row < 0 || count < 0 || first_row > info_.rows - count)
        return Fail(info_.path, "rows " + std::to_string(first_row + 1) + " to " +
                                    std::to_string(first_row + count) + " of " + which +
                                    " do not exist (" + std::to_string(info_.rows) + " rows)");
    const std::int64_t row_bytes = info_.columns * DatatypeSize(info_.datatype);
    if (static_cast<std::int64_t>(out.size()) != count * row_bytes)
        return Fail(info_.path, "buffer of " + std::to_string(out.size()) + " bytes for " +
                                    std::to_string(count) + " rows of " + which);
    const std::int64_t end_row = first_row + count;
    std::int64_t region_row = 0;  // the region's first row within the frame
    for (const Region& region : info_.regions) {
        const std::int64_t lo = std::max(first_row, region_row);
        const std::int64_t hi = std::min(end_row, region_row + region.height);
        if (lo < hi) {
            const std::int64_t offset = kHeaderSize + index * info_.frame_stride + region.offset +
                                        (lo - region_row) * row_bytes;
            std::string reason;
            if (!PreadAll(fd_, out.data() + (lo - first_row) * row_bytes,
                          static_cast<std::size_t>((hi - lo) * row_bytes), offset, reason))
                return Fail(info_.path, "cannot read " + which + ": " + reason);
        }
        region_row += region.height;
    }
    return Status::Ok();
}

Status SpeFile::WriteFrame(std::int64_t index, const Frame& frame) {
    auto element = DatatypeElement(info_.datatype);
    if (Status s = CheckFrame(index); !s) return s;
    if (frame.Columns() != info_.columns || frame.Rows() != info_.rows)
        return Fail(info_.path, "frame of " + std::to_string(frame.Columns()) + " x " +
                                    std::to_string(frame.Rows()) + " does not fit the document's " +
                                    std::to_string(info_.columns) + " x " +
                                    std::to_string(info_.rows));
    if (info_.regions.size() != 1)
        return Fail(info_.path, "frames of files with several regions cannot be stored");
    Frame converted;
    const Frame* source = &frame;
    if (frame.Type() != *element) {
        converted = ConvertFrame(frame, *element);
        source = &converted;
    }
    auto bytes = source->Bytes();
    if (!PwriteAll(fd_, bytes.data(), bytes.size(), kHeaderSize + index * info_.frame_stride))
        return Fail(info_.path,
                    "cannot write frame " + std::to_string(index + 1) + ": " + SystemReason());
    return Status::Ok();
}

Status SpeFile::SetWavelengths(const std::vector<double>& nm) {
    // 0.1 pm: far below the spectral width of any detector column, and far above the rounding
    // of a polynomial that truly holds the values.
    constexpr double kToleranceNm = 1e-4;
    if (info_.version >= 3 || info_.regions.size() != 1 ||
        static_cast<std::int64_t>(nm.size()) != info_.columns)
        return Fail(info_.path,
                    "a calibration is kept only for a 2.x file of one region, one "
                    "wavelength per column");
    auto coefficients = PolynomialThrough(nm, kToleranceNm);
    if (!coefficients)
        return Fail(info_.path,
                    "the wavelengths follow no polynomial of order 5 or less, the "
                    "only calibration the file can keep");
    std::uint8_t header[kHeaderSize];
    std::string reason;
    if (!PreadAll(fd_, header, sizeof header, 0, reason))
        return Fail(info_.path, "cannot read the header: " + reason);
    StoreXCalibration(header, *coefficients);
    // Kept only when it reads back as a wavelength axis (one that rises or falls throughout).
    fits::DocumentMetadata metadata = ReadHeaderMetadata(header, info_.columns, info_.rows);
    if (metadata.regions.empty() || metadata.regions[0].wavelengths.empty()) {
        // Every note: the one on the axis need not be the last (dates and comments follow).
        std::string said;
        for (const std::string& note : metadata.notes)
            said += (said.empty() ? "" : "; ") + note;
        return Fail(info_.path, said.empty() ? "the wavelengths make no axis" : said);
    }
    if (!PwriteAll(fd_, header, sizeof header, 0))
        return Fail(info_.path, "cannot write the calibration: " + SystemReason());
    info_.metadata = std::move(metadata);
    return Status::Ok();
}

bool SpeFile::KeepWavelengthsShown(const std::vector<double>& nm) {
    if (info_.regions.size() != 1 || static_cast<std::int64_t>(nm.size()) != info_.columns)
        return false;
    if (info_.metadata.regions.empty()) info_.metadata.regions.emplace_back();
    info_.metadata.regions.resize(1);
    fits::RegionMetadata& region = info_.metadata.regions[0];
    region.width = info_.columns, region.height = info_.rows;
    region.wavelengths = nm;
    region.linear_start.reset(), region.linear_step.reset();
    return true;
}

Status SpeFile::Flush() {
    if (std::fflush(file_.get()) != 0) return Fail(info_.path, "cannot write: " + SystemReason());
    return Status::Ok();
}

}  // namespace orlix
