#include "fits/input/fits_display.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "fits/automation/c_file.h"
#include "fits/automation/data_types.h"
#include "fits/header/card.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_values.h"
#include "fits/input/cfitsio_handle.h"
#include "fits/input/header_reader.h"
#include "fits/input/wavelength_axis.h"

namespace fits {
namespace {

// Bytes read and decoded at a time: small enough that progress is said (and the window
// paints) several times a second, large enough that reading stays at the disk's speed.
constexpr std::size_t kChunkBytes = 4 << 20;

template <class T>
void Decode(std::span<const std::uint8_t> bytes, std::span<T> out) {
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = LoadBig<T>(bytes.data() + i * sizeof(T));
}

// Decodes big-endian samples into the frame's elements from element `first` on; `bytes`
// holds whole samples and ends within the frame.
void DecodeInto(Frame& frame, std::int64_t first, std::span<const std::uint8_t> bytes) {
    const auto at = static_cast<std::size_t>(first);
    auto run = [&](auto elements) {
        using T = typename decltype(elements)::element_type;
        Decode<T>(bytes, elements.subspan(at, bytes.size() / sizeof(T)));
    };
    switch (frame.Type()) {
        case ElementType::kUInt8:
            return run(frame.Elements<std::uint8_t>());
        case ElementType::kInt16:
            return run(frame.Elements<std::int16_t>());
        case ElementType::kInt32:
            return run(frame.Elements<std::int32_t>());
        case ElementType::kFloat32:
            return run(frame.Elements<float>());
    }
}

// Offset of the first data byte: the end of the header block that holds END. Blank cards
// can make the header longer than its cards alone, so the file is measured, not the text.
std::int64_t DataOffset(std::FILE* file) {
    constexpr auto kBlock = static_cast<std::size_t>(kBlockBytes);
    constexpr auto kCard = static_cast<std::size_t>(kCardBytes);
    std::vector<char> block(kBlock);
    for (std::int64_t offset = 0;; offset += kBlockBytes) {
        if (std::fread(block.data(), 1, kBlock, file) != kBlock) return -1;
        for (std::size_t at = 0; at < kBlock; at += kCard)
            if (GetKeyword(std::string_view(block.data() + at, kCard)) == "END")
                return offset + kBlockBytes;
    }
}

// Whether the file's first extension is a tile-compressed image.
bool HoldsCompressedImage(const std::string& path) {
    int status = 0, type = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, path.c_str(), READONLY, &status);
    FitsHandle file(raw);
    fits_movabs_hdu(raw, 2, &type, &status);
    return status == 0 && fits_is_compressed_image(raw, &status) == 1;
}

}  // namespace

Frame BytesToFrame(DataDocument& document, std::span<const std::uint8_t> buffer,
                   std::int32_t bitpix) {
    auto columns = document.GetParam(doc_param::kColumns).ToInt32().value_or(0);
    auto rows = document.GetParam(doc_param::kRows).ToInt32().value_or(0);
    Frame frame;
    if (columns <= 0 || rows <= 0) return frame;
    const std::int64_t count = static_cast<std::int64_t>(columns) * rows;
    const DataTypeRow* row = FindDataType(BitpixToTypeCode(bitpix));
    if (!row || !row->element) return frame;
    frame.Reset(*row->element, columns, rows);
    if (static_cast<std::int64_t>(buffer.size()) < count * ElementSize(frame.Type()))
        return Frame();
    DecodeInto(frame, 0, buffer.first(static_cast<std::size_t>(count * ElementSize(frame.Type()))));
    return frame;
}

std::string FreeDisplayName(const std::string& fitsPath) {
    const std::string first = ChangeExtension(fitsPath, "spe");
    const std::string base = first.substr(0, first.size() - 4);
    std::string name = first;
    struct stat st {};
    for (int n = 2; lstat(name.c_str(), &st) == 0 || errno != ENOENT; ++n) {
        if (n > 10000) return {};
        name = base + "-" + std::to_string(n) + ".spe";
    }
    return name;
}

namespace {

// The index of display documents in the application's data folder, one line each:
// FITS path, its modification time (ns) and size, the document's path; tab-separated.
constexpr char kIndexName[] = "/displayed-fits.tsv";

struct Seen {
    std::int64_t modified_ns = 0, size = 0;
};

std::optional<Seen> SeenOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return Seen{st.st_mtim.tv_sec * std::int64_t{1000000000} + st.st_mtim.tv_nsec, st.st_size};
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// The document an earlier display made from this FITS file, unchanged since; empty when
// there is none (paths holding tabs or line ends are never indexed).
std::string IndexedDocument(const std::string& folder, const std::string& fits) {
    std::ifstream index(folder + kIndexName);
    const auto seen = SeenOf(fits);
    std::string found;
    for (std::string line; seen && std::getline(index, line);) {
        std::vector<std::string> f;
        for (std::size_t at = 0;;) {
            const std::size_t tab = line.find('\t', at);
            f.push_back(line.substr(at, tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        if (f.size() == 4 && f[0] == fits && f[1] == std::to_string(seen->modified_ns) &&
            f[2] == std::to_string(seen->size) && SeenOf(f[3]))
            found = f[3];  // the latest line wins
    }
    return found;
}

void IndexDocument(const std::string& folder, const std::string& fits,
                   const std::string& document) {
    const auto seen = SeenOf(fits);
    if (!seen || fits.find_first_of("\t\r\n") != std::string::npos ||
        document.find_first_of("\t\r\n") != std::string::npos)
        return;
    std::ofstream(folder + kIndexName, std::ios::app)
        << fits << '\t' << seen->modified_ns << '\t' << seen->size << '\t' << document << '\n';
}

// Where the display document of `fits` goes: beside it where that folder can be written,
// else in the application's data folder (made when missing); empty when neither can.
std::string DocumentFolder(AutomationFactory& factory, const std::string& fits) {
    const std::string beside = std::filesystem::path(fits).parent_path().string();
    if (access(beside.empty() ? "." : beside.c_str(), W_OK) == 0)
        return beside.empty() ? "." : beside;
    const std::string own = factory.DataFolder();
    std::error_code ec;
    if (own.empty() || (std::filesystem::create_directories(own, ec), ec)) return {};
    return access(own.c_str(), W_OK) == 0 ? own : std::string();
}

}  // namespace

namespace {

// A FITS file's primary data as Display reads them: the header, its sizes and sample type,
// and the file positioned at the first data byte.
struct PrimaryData {
    // From a header whose values `v` are all given.
    PrimaryData(std::string text, const HeaderValues& v)
        : header(std::move(text)),
          columns(*v.naxis1),
          rows(*v.naxis2),
          frames(*v.naxis3),
          bitpix(*v.bitpix),
          code(BitpixToTypeCode(*v.bitpix)) {}

    std::string header;
    std::int32_t columns = 0, rows = 0, frames = 0, bitpix = 0;
    std::int32_t code = 0;  // the data type code of the samples
    std::int64_t frame_bytes = 0, data_bytes = 0;
    UniqueFile file;
};

// Opens the FITS file's primary data, refusing a header without usable sizes, a sample type
// that cannot be shown and a file shorter than its header says.
Result<PrimaryData> OpenPrimaryData(const std::string& path) {
    const std::string shown = ShownName(path);
    auto text = ReadFileHeader(path);
    if (!text) return text.status();
    HeaderValues v = GetHeaderValues(*text, kNaxis1 | kNaxis2 | kNaxis3 | kBitpix);
    if (GetHeaderValue(*text, "NAXIS") == "0" && HoldsCompressedImage(path))
        return Status::Error(shown +
                             ": a tile-compressed FITS file; Display shows uncompressed files "
                             "(convert the SPE file again without compression)");
    if (!v.naxis1 || !v.naxis2 || !v.naxis3 || !v.bitpix || *v.naxis1 <= 0 || *v.naxis2 <= 0 ||
        *v.naxis3 <= 0)
        return Status::Error(shown +
                             ": the header has no usable NAXIS1, NAXIS2, NAXIS3 and "
                             "BITPIX; nothing to show");
    PrimaryData data(std::move(*text), v);
    if (data.code == 0)
        return Status::Error(shown + ": BITPIX " + std::to_string(data.bitpix) +
                             " cannot be shown (8, 16, 32 and -32 can)");
    data.file = UniqueFile(std::fopen(path.c_str(), "rb"));
    if (!data.file) return Status::Error(shown + ": cannot open: " + SystemReason());
    const std::int64_t offset = DataOffset(data.file.get());
    if (offset < 0) return Status::Error(shown + ": no END card in the header");
    // Sizes: columns and rows are 32-bit, so a frame is below 2^64 / 4; checked all the same.
    struct stat st {};
    if (__builtin_mul_overflow(static_cast<std::int64_t>(data.columns) * data.rows,
                               std::abs(data.bitpix) / 8, &data.frame_bytes) ||
        __builtin_mul_overflow(data.frame_bytes, static_cast<std::int64_t>(data.frames),
                               &data.data_bytes) ||
        fstat(fileno(data.file.get()), &st) != 0 || st.st_size - offset < data.data_bytes)
        return Status::Error(shown + ": the file is shorter than its header's " +
                             std::to_string(data.frames) + " frames of " +
                             std::to_string(data.columns) + " x " + std::to_string(data.rows) +
                             " samples");
    if (fseeko(data.file.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
        return Status::Error(shown + ": cannot read: " + SystemReason());
    return data;
}

// An unchanged FITS file shown before (in this session or an earlier one) shows the same
// document again, instead of another copy of its data: true then, its path in `shownAs`.
bool ShowEarlierDocument(AutomationFactory& factory, const std::string& index_folder,
                         const std::string& fits, std::string* shownAs) {
    if (index_folder.empty()) return false;
    const std::string earlier = IndexedDocument(index_folder, fits);
    if (earlier.empty()) return false;
    auto document = factory.NewDataDocument();
    if (!document->Open(earlier, 0, 0, 0, 0, "") || !document->Refresh()) return false;
    if (shownAs) *shownAs = earlier;
    return true;
}

// The display document's path: beside the FITS file where its folder can be written, else in
// the application's own folder. Never an existing file: the round trip run1.spe -> run1.fit
// -> display must not replace the raw data in run1.spe.
Result<std::string> DisplayDocumentPath(AutomationFactory& factory, const std::string& path) {
    const std::string shown = ShownName(path);
    const std::string folder = DocumentFolder(factory, path);
    if (folder.empty())
        return Status::Error(shown + ": neither its folder nor the application's data folder " +
                             "can take the display document");
    const std::string spe =
        FreeDisplayName(folder + "/" + std::filesystem::path(path).filename().string());
    if (spe.empty()) return Status::Error(shown + ": no free name for the display document");
    return spe;
}

// The FITS file's wavelength axis becomes the document's calibration, before the first frame
// is shown: the viewer plots against it. Why it is not carried goes to `notes`.
void CarryWavelengths(DataDocument& document, const std::string& path, const PrimaryData& data,
                      std::vector<std::string>* notes) {
    std::string note;
    if (auto nm = ReadWavelengthAxis(path, data.header, data.columns, note); !nm.empty())
        if (Status s = document.SetWavelengths(nm); !s)
            note = ShownName(path) + ": the wavelength axis is not carried (" + s.message() +
                   "); the viewer shows pixels";
    if (notes && !note.empty()) notes->push_back(note);
}

// Copies the primary data into the document's frames, each frame read and decoded a chunk at
// a time with progress between chunks; a false answer from `progress` cancels.
Status CopyFrames(DataDocument& document, PrimaryData& data, const std::string& shown,
                  const ByteProgress& progress) {
    std::vector<std::uint8_t> chunk(
        static_cast<std::size_t>(std::min<std::int64_t>(kChunkBytes, data.frame_bytes)));
    const std::int64_t sample = std::abs(data.bitpix) / 8;
    Frame frame;
    std::int64_t done = 0;
    for (std::int64_t f = 1; f <= data.frames; ++f) {
        // The document's own size, which the application chose for the FITS file's.
        const auto columns = document.GetParam(doc_param::kColumns).ToInt32().value_or(0);
        const auto rows = document.GetParam(doc_param::kRows).ToInt32().value_or(0);
        if (static_cast<std::int64_t>(columns) * rows * sample != data.frame_bytes)
            return Status::Error(shown +
                                 ": the display document's frame size differs from the FITS "
                                 "file's");
        frame.Reshape(*FindDataType(data.code)->element, columns, rows);  // every element is read
        for (std::int64_t at = 0; at < data.frame_bytes;) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(
                static_cast<std::int64_t>(chunk.size()), data.frame_bytes - at));
            if (std::fread(chunk.data(), 1, n, data.file.get()) != n)
                return Status::Error(shown + ": the file ends before frame " + std::to_string(f) +
                                     " of " + std::to_string(data.frames));
            DecodeInto(frame, at / sample, std::span(chunk).first(n));
            at += static_cast<std::int64_t>(n);
            done += static_cast<std::int64_t>(n);
            if (progress && !progress(done, data.data_bytes))
                return Status::Error(shown + ": cancelled; nothing displayed");
        }
        Status s = document.PutFrame(f, frame);
        if (s) s = document.Refresh();
        if (!s) return s;
    }
    return Status::Ok();
}

}  // namespace

Status DisplayFitsFile(AutomationFactory& factory, const std::string& path, std::string* shownAs,
                       const ByteProgress& progress, std::vector<std::string>* notes) {
    auto data = OpenPrimaryData(path);
    if (!data) return data.status();
    const std::string fits = Absolute(path);
    const std::string index_folder = factory.DataFolder();
    if (ShowEarlierDocument(factory, index_folder, fits, shownAs)) return Status::Ok();
    const auto spe = DisplayDocumentPath(factory, path);
    if (!spe) return spe.status();
    auto document = factory.NewDataDocument();
    if (Status s = document->Open("", data->columns, data->rows, data->frames, data->code, *spe);
        !s)
        return s;
    if (shownAs) *shownAs = *spe;
    CarryWavelengths(*document, path, *data, notes);
    if (Status s = CopyFrames(*document, *data, ShownName(path), progress); !s) {
        // A display that fails (or is cancelled) leaves no document file behind.
        document->Close();
        std::remove(spe->c_str());
        return s;
    }
    // Indexed only in the application's own folder (made when missing); none: not indexed.
    std::error_code ec;
    if (!index_folder.empty()) {
        std::filesystem::create_directories(index_folder, ec);
        if (!ec) IndexDocument(index_folder, fits, Absolute(*spe));
    }
    return Status::Ok();
}

}  // namespace fits
