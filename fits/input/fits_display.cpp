#include "fits/input/fits_display.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
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
#include "fits/input/image_header.h"
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

// The document element that holds the physical values (BZERO and BSCALE applied) of an image
// of CFITSIO's equivalent type `equivtype` exactly where one can: unsigned 16-bit in the
// unsigned 16-bit code, everything beyond 32-bit integers or scaled to fractions in 32-bit
// floats. `exact` is false where 32-bit floats round some values.
struct ShownType {
    std::int32_t code;
    int cfitsio_type;  // the type CFITSIO converts the values to
    bool exact;
};
ShownType ShownTypeOf(int equivtype) {
    switch (equivtype) {
        case BYTE_IMG:
            return {type_code::kUInt8, TBYTE, true};
        case SBYTE_IMG:
        case SHORT_IMG:
            return {type_code::kInt16, TSHORT, true};
        case USHORT_IMG:
            return {type_code::kUInt16, TUSHORT, true};
        case LONG_IMG:
            return {type_code::kInt32, TINT, true};
        case FLOAT_IMG:
            return {type_code::kFloat32, TFLOAT, true};
        default:  // ULONG_IMG, LONGLONG_IMG, ULONGLONG_IMG, DOUBLE_IMG
            return {type_code::kFloat32, TFLOAT, false};
    }
}

// What a reader sees for each sample type that 32-bit floats cannot hold exactly.
std::string RoundedNote(int equivtype) {
    switch (equivtype) {
        case DOUBLE_IMG:
            return "64-bit floating-point values (BITPIX -64, or 32-bit integers scaled by "
                   "BSCALE) are shown as 32-bit floats, to about 7 significant digits; "
                   "beyond 3.4E38 as infinities, below 1.4E-45 as 0";
        case LONG_IMG:  // with undefined samples
            return "32-bit integer values with undefined samples (BLANK) are shown as 32-bit "
                   "floats: values beyond 16777216 are rounded";
        case ULONG_IMG:
            return "unsigned 32-bit values are shown as 32-bit floats: values above 16777216 "
                   "are rounded";
        default:
            return "64-bit integer values are shown as 32-bit floats: values beyond 16777216 "
                   "are rounded";
    }
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

// A FITS file's image as Display reads it: the header shown, the sizes, the document's
// sample type, and the file open in CFITSIO at the image's HDU (the primary one, or the
// tile-compressed image after an empty primary HDU).
struct ImageData {
    std::string header;
    std::int32_t columns = 0, rows = 0, frames = 0;
    ShownType shown{};
    int equivtype = 0;
    bool stored_whole = false;  // whole numbers in the file (BITPIX > 0): BLANK may mark some
    std::int64_t frame_elements = 0;
    FitsHandle file;
};

// Refuses a header without usable sizes, a sample type that cannot be shown, and a file
// shorter than its header says, before anything is created. The data begin at `offset` (an
// extension's), or, when it is negative, after the primary header.
Status CheckImageData(const std::string& path, const std::string& text, std::int64_t offset = -1) {
    const std::string shown = ShownName(path);
    HeaderValues v = GetHeaderValues(text, kNaxis1 | kNaxis2 | kNaxis3 | kBitpix);
    if (!v.naxis1 || !v.naxis2 || !v.naxis3 || !v.bitpix || *v.naxis1 <= 0 || *v.naxis2 <= 0 ||
        *v.naxis3 <= 0)
        return Status::Error(shown +
                             ": the header has no usable NAXIS1, NAXIS2, NAXIS3 and "
                             "BITPIX; nothing to show");
    const std::int32_t bitpix = *v.bitpix;
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 &&
        bitpix != -64)
        return Status::Error(shown + ": BITPIX " + std::to_string(bitpix) +
                             " cannot be shown (8, 16, 32, 64, -32 and -64 can)");
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return Status::Error(shown + ": cannot open: " + SystemReason());
    if (offset < 0) offset = DataOffset(file.get());
    if (offset < 0) return Status::Error(shown + ": no END card in the header");
    // Sizes: columns and rows are 32-bit, so a frame is below 2^64 / 8; checked all the same.
    std::int64_t frame_bytes = 0, data_bytes = 0;
    struct stat st {};
    if (__builtin_mul_overflow(static_cast<std::int64_t>(*v.naxis1) * *v.naxis2,
                               std::abs(bitpix) / 8, &frame_bytes) ||
        __builtin_mul_overflow(frame_bytes, static_cast<std::int64_t>(*v.naxis3), &data_bytes) ||
        fstat(fileno(file.get()), &st) != 0 || st.st_size - offset < data_bytes)
        return Status::Error(shown + ": the file is shorter than its header's " +
                             std::to_string(*v.naxis3) + (*v.naxis3 == 1 ? " frame" : " frames") +
                             " of " + std::to_string(*v.naxis1) + " x " +
                             std::to_string(*v.naxis2) + " samples");
    return Status::Ok();
}

// Why the file is no FITS file, judged by its first card ("SIMPLE  =", as FITS requires);
// empty when it begins as one, or cannot be read (then reading the header says why).
std::string NotFitsReason(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[9] = {};
    in.read(head, sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0 && !in.eof()) return {};  // not opened or not read: the reading says why
    if (got == 0) return ShownName(path) + ": the file is empty, not a FITS file";
    if (std::string_view(head, got) == "SIMPLE  =") return {};
    return ShownName(path) +
           ": not a FITS file (its first card is not SIMPLE; a FITS file begins with SIMPLE)";
}

// Opens the FITS file's image for reading its physical values.
Result<ImageData> OpenImageData(const std::string& path) {
    const std::string shown = ShownName(path);
    if (std::string reason = NotFitsReason(path); !reason.empty()) return Status::Error(reason);
    auto text = ReadFileHeader(path);
    if (!text) return text.status();
    ImageData data;
    data.header = std::move(*text);
    int status = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, path.c_str(), READONLY, &status);
    data.file.reset(raw);
    // An empty primary HDU followed by an image (tile-compressed, or an extension as
    // pipelines and --regions write it): the image is shown, with its own cards (its
    // wavelength axis is there).
    const bool empty_primary = status == 0 && GetHeaderValue(data.header, "NAXIS") == "0";
    if (empty_primary && AtCompressedImage(raw)) {
        auto image = CompressedImageHeader(raw, path);
        if (!image) return image.status();
        data.header = std::move(*image);
    } else if (empty_primary && AtImageExtension(raw)) {
        auto image = ExtensionImageHeader(raw, path);
        if (!image) return image.status();
        data.header = std::move(*image);
        LONGLONG head = 0, start = 0, end = 0;
        fits_get_hduaddrll(raw, &head, &start, &end, &status);
        if (Status s = CheckImageData(path, data.header, start); !s) return s;
    } else {
        if (Status s = CheckImageData(path, data.header); !s) return s;
        if (status != 0)
            return Status::Error(CfitsioReason((shown + ": cannot open").c_str(), status));
        int type = 0;
        fits_movabs_hdu(raw, 1, &type, &status);
    }
    int naxis = 0;
    long long naxes[3] = {1, 1, 1};
    fits_get_img_equivtype(raw, &data.equivtype, &status);
    fits_get_img_dim(raw, &naxis, &status);
    fits_get_img_sizell(raw, std::min(naxis, 3), naxes, &status);
    if (status != 0) return Status::Error(CfitsioReason((shown + ": cannot read").c_str(), status));
    for (long long n : naxes)
        if (n <= 0 || n > INT32_MAX || naxis < 1)
            return Status::Error(shown + ": the image has no usable size; nothing to show");
    data.columns = static_cast<std::int32_t>(naxes[0]);
    data.rows = static_cast<std::int32_t>(naxes[1]);
    data.frames = static_cast<std::int32_t>(naxes[2]);
    data.frame_elements = naxes[0] * naxes[1];
    data.shown = ShownTypeOf(data.equivtype);
    int bitpix = 0, no_type = 0;
    data.stored_whole = fits_get_img_type(raw, &bitpix, &no_type) == 0 && bitpix > 0;
    // Undefined samples (BLANK; ZBLANK in a compressed image) of an integer image are NaN to
    // readers, which then show the image as floats; an unsigned 16-bit image keeps integers.
    long long blank = 0;
    int absent = 0;
    const bool declares_blank =
        !GetHeaderValue(data.header, "BLANK").empty() ||
        fits_read_key(raw, TLONGLONG, "ZBLANK", &blank, nullptr, &absent) == 0;
    if (declares_blank && data.shown.cfitsio_type != TFLOAT && data.equivtype != USHORT_IMG) {
        // Exact while no value can pass 2^24: the stored integers' range, scaled.
        int no_key = 0;
        double bscale = 1, bzero = 0;
        fits_read_key(raw, TDOUBLE, "BSCALE", &bscale, nullptr, &(no_key = 0));
        fits_read_key(raw, TDOUBLE, "BZERO", &bzero, nullptr, &(no_key = 0));
        const double largest =
            std::ldexp(1.0, std::clamp(bitpix, 8, 64)) * std::abs(bscale) + std::abs(bzero);
        data.shown = {type_code::kFloat32, TFLOAT, largest <= 16777216.0};
    }
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
// is shown: the viewer plots against it. Why it is not carried goes to `notes`. False when
// the application keeps the axis only while it shows the document (not in its file).
bool CarryWavelengths(DataDocument& document, const std::string& path, const ImageData& data,
                      std::vector<std::string>* notes) {
    std::string note;
    bool in_file = true;
    if (auto nm = ReadWavelengthAxis(path, data.header, data.columns, note); !nm.empty()) {
        if (Status s = document.SetWavelengths(nm); !s)
            note = ShownName(path) + ": the wavelength axis is not carried (" + s.message() +
                   "); the viewer shows pixels";
        else
            in_file = !document.WavelengthsOnlyShown();
    }
    if (notes && !note.empty()) notes->push_back(note);
    return in_file;
}

// Copies the image's physical values into the document's frames, a chunk at a time with
// progress between chunks; a false answer from `progress` cancels.
Status CopyFrames(DataDocument& document, ImageData& data, const std::string& shown,
                  const ByteProgress& progress) {
    const ElementType element = *FindDataType(data.shown.code)->element;
    const std::int64_t size = ElementSize(element);
    const std::int64_t chunk = std::max<std::int64_t>(1, kChunkBytes / size);
    const std::int64_t all = data.frame_elements * data.frames * size;
    Frame frame;
    std::int64_t done = 0;
    for (std::int64_t f = 1; f <= data.frames; ++f) {
        // The document's own size, which the application chose for the FITS file's.
        const auto columns = document.GetParam(doc_param::kColumns).ToInt32().value_or(0);
        const auto rows = document.GetParam(doc_param::kRows).ToInt32().value_or(0);
        if (static_cast<std::int64_t>(columns) * rows != data.frame_elements)
            return Status::Error(shown +
                                 ": the display document's frame size differs from the FITS "
                                 "file's");
        frame.Reshape(element, columns, rows);  // every element is read
        std::uint8_t* base = frame.Bytes().data();
        for (std::int64_t at = 0; at < data.frame_elements;) {
            const std::int64_t n = std::min(chunk, data.frame_elements - at);
            // Undefined integers (BLANK) become NaN, as readers show them. Stored floats are
            // read as they are: a null value would make CFITSIO take infinities for NaN.
            const float nan = std::numeric_limits<float>::quiet_NaN();
            const std::int64_t zero = 0;
            int status = 0, any_null = 0;
            fits_read_img(data.file.get(), data.shown.cfitsio_type,
                          (f - 1) * data.frame_elements + at + 1, n,
                          const_cast<void*>(data.shown.cfitsio_type == TFLOAT && data.stored_whole
                                                ? static_cast<const void*>(&nan)
                                                : static_cast<const void*>(&zero)),
                          base + at * size, &any_null, &status);
            if (status != 0)
                return Status::Error(
                    CfitsioReason((shown + ": cannot read frame " + std::to_string(f) + " of " +
                                   std::to_string(data.frames))
                                      .c_str(),
                                  status));
            at += n;
            done += n * size;
            if (progress && !progress(done, all))
                return Status::Error(shown + ": cancelled; nothing displayed");
        }
        Status s = document.PutFrame(f, frame);
        if (s) s = document.Refresh();
        if (!s) return s;
    }
    return Status::Ok();
}

}  // namespace

Result<std::string> ReadDisplayedHeader(const std::string& path,
                                        std::vector<std::string>* warnings) {
    if (std::string reason = NotFitsReason(path); !reason.empty()) return Status::Error(reason);
    auto text = ReadFileHeader(path, warnings);
    if (!text) return text;
    return ImageHeaderOf(path, std::move(*text), true);
}

Status DisplayFitsFile(AutomationFactory& factory, const std::string& path, std::string* shownAs,
                       const ByteProgress& progress, std::vector<std::string>* notes,
                       bool* reusable) {
    if (reusable) *reusable = true;
    auto data = OpenImageData(path);
    if (!data) return data.status();
    const std::string fits = Absolute(path);
    const std::string index_folder = factory.DataFolder();
    if (ShowEarlierDocument(factory, index_folder, fits, shownAs)) return Status::Ok();
    const auto spe = DisplayDocumentPath(factory, path);
    if (!spe) return spe.status();
    auto document = factory.NewDataDocument();
    if (Status s =
            document->Open("", data->columns, data->rows, data->frames, data->shown.code, *spe);
        !s)
        return s;
    if (shownAs) *shownAs = *spe;
    const bool in_file = CarryWavelengths(*document, path, *data, notes);
    if (Status s = CopyFrames(*document, *data, ShownName(path), progress); !s) {
        // A display that fails (or is cancelled) leaves no document file behind.
        document->Close();
        std::remove(spe->c_str());
        return s;
    }
    if (!data->shown.exact && notes)
        notes->push_back(ShownName(path) + ": " + RoundedNote(data->equivtype));
    // A document whose file lacks what the application shows (a wavelength list) is shown
    // anew next time, not from its file.
    if (!in_file) {
        if (reusable) *reusable = false;
        return Status::Ok();
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
