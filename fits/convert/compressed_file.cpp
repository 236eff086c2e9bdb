#include "fits/convert/compressed_file.h"

#include <fitsio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fits/automation/c_file.h"

#include "fits/automation/safe_file.h"
#include "fits/input/cfitsio_handle.h"

namespace fits {
namespace {

// Copies the cards of the current header of `in` that describe the image, not its layout, to
// the compressed image `out`: SIMPLE and EXTEND as ZSIMPLE and ZEXTEND (so that the image
// decompresses as the primary one it was), the other structural cards left to CFITSIO.
void CopyImageCards(fitsfile* in, fitsfile* out, int& status) {
    int cards = 0;
    fits_get_hdrspace(in, &cards, nullptr, &status);
    for (int k = 1; status == 0 && k <= cards; ++k) {
        char card[FLEN_CARD] = "";
        fits_read_record(in, k, card, &status);
        const std::string keyword(card, std::min<std::size_t>(8, std::strlen(card)));
        if (keyword == "SIMPLE  " || keyword == "EXTEND  ") {
            std::string renamed = "Z" + std::string(card).substr(0, 7) + std::string(card + 8);
            fits_write_record(out, renamed.c_str(), &status);
        } else if (fits_get_keyclass(card) != TYP_STRUC_KEY) {
            fits_write_record(out, card, &status);
        }
    }
}

// Compresses the current floating-point image of `in` into a new HDU of `out`, GZIP without
// quantization, copying the samples without CFITSIO's checks for undefined values: its own
// image compression reads with them, which turns infinities and every NaN into one NaN, and
// -0.0 and denormals into 0. Copied unchecked and unscaled, every sample keeps its bits.
void CompressFloatImage(fitsfile* in, fitsfile* out, int naxis, int bitpix, int& status) {
    std::vector<long> axes(static_cast<std::size_t>(naxis), 1);
    fits_get_img_size(in, naxis, axes.data(), &status);
    int hdus = 0;
    // A compressed image is an extension: a primary header without data goes before it.
    if (fits_get_num_hdus(out, &hdus, &status) == 0 && hdus == 0)
        fits_create_img(out, SHORT_IMG, 0, nullptr, &status);
    fits_set_compression_type(out, GZIP_1, &status);
    fits_set_quantize_level(out, 0.0f, &status);  // NOQUANTIZE: lossless
    fits_create_img(out, bitpix, naxis, axes.data(), &status);
    CopyImageCards(in, out, status);
    fits_set_bscale(in, 1.0, 0.0, &status);
    fits_set_bscale(out, 1.0, 0.0, &status);
    LONGLONG all = 1;
    for (long n : axes)
        all *= n;
    // Whole rows at a time (a tile is a row), about 8 MiB of samples.
    const LONGLONG row = std::max(1L, axes[0]);
    const LONGLONG chunk = std::max<LONGLONG>(1, (LONGLONG{1} << 20) / row) * row;
    std::vector<double> buffer(static_cast<std::size_t>(std::min(chunk, all)));
    const int type = bitpix == FLOAT_IMG ? TFLOAT : TDOUBLE;
    for (LONGLONG first = 1; status == 0 && first <= all; first += chunk) {
        const LONGLONG n = std::min(chunk, all - first + 1);
        int any = 0;
        fits_read_img(in, type, first, n, nullptr, buffer.data(), &any, &status);
        fits_write_img(out, type, first, n, buffer.data(), &status);
    }
}

// Copies the HDUs of `in` from the `first` on into `out`, after its HDUs: images (of any size)
// tile-compressed, Rice for whole numbers, GZIP without quantization for floating point;
// tables as they are. `status` as CFITSIO's.
void CompressHdus(fitsfile* in, fitsfile* out, int first, int& status) {
    for (int k = first; status == 0; ++k) {
        int type = 0;
        if (fits_movabs_hdu(in, k, &type, &status) == END_OF_FILE) {
            status = 0;  // every HDU done
            return;
        }
        int naxis = 0, bitpix = 0;
        if (type == IMAGE_HDU) {
            fits_get_img_dim(in, &naxis, &status);
            fits_get_img_type(in, &bitpix, &status);
        }
        if (type != IMAGE_HDU || naxis == 0) {
            // A primary header without data stays the primary header; tables are copied.
            fits_copy_hdu(in, out, 0, &status);
            continue;
        }
        if (bitpix < 0) {
            CompressFloatImage(in, out, naxis, bitpix, status);
            continue;
        }
        fits_set_compression_type(out, RICE_1, &status);
        fits_img_compress(in, out, &status);
    }
}

// Writes the primary HDU of the compressed file to the empty file `packed` and opens it for
// CFITSIO to add the others (CFITSIO creates only files that do not exist yet, and an unnamed
// scratch file always does): the primary HDU of `plain` when it holds no data, else an empty
// one (the image becomes the first extension). Returns the first HDU of `in` still to copy.
int StartPacked(fitsfile* in, const std::string& plain, const std::string& packed, fitsfile** out,
                int& status) {
    int naxis = 0;
    LONGLONG head = 0, data = 0, end = 0;
    fits_movabs_hdu(in, 1, nullptr, &status);
    fits_get_img_dim(in, &naxis, &status);
    fits_get_hduaddrll(in, &head, &data, &end, &status);
    if (status != 0) return 0;
    std::string primary;
    if (naxis == 0) {
        primary.resize(static_cast<std::size_t>(end));
        UniqueFile from(std::fopen(plain.c_str(), "rb"));
        if (!from || std::fread(primary.data(), 1, primary.size(), from.get()) != primary.size())
            primary.clear();
    } else {
        for (const char* card :
             {"SIMPLE  =                    T", "BITPIX  =                   16",
              "NAXIS   =                    0", "EXTEND  =                    T", "END"})
            primary += std::string(card) + std::string(80 - std::strlen(card), ' ');
        primary.resize(2880, ' ');
    }
    // The scratch file is opened, never created: a signal's clean-up may have removed its name
    // already, and making it again would leave it behind.
    const int fd = primary.empty() ? -1 : open(packed.c_str(), O_WRONLY | O_CLOEXEC);
    UniqueFile to(fd >= 0 ? fdopen(fd, "wb") : nullptr);
    if (fd >= 0 && !to) close(fd);
    if (!to || std::fwrite(primary.data(), 1, primary.size(), to.get()) != primary.size() ||
        std::fclose(to.release()) != 0)
        status = FILE_NOT_CREATED;
    if (status == 0) fits_open_diskfile(out, packed.c_str(), READWRITE, &status);
    return naxis == 0 ? 2 : 1;
}

// Copies the file at `from` into `file`; false (with the reason in `file` or `error`) when
// it cannot.
bool CopyInto(const std::string& from, SafeFile& file, std::string& error) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) {
        error = "cannot read the compressed file: " + SystemReason();
        return false;
    }
    UniqueFile guard(in);
    std::vector<char> buffer(1 << 20);
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;)
        if (!file.Write(buffer.data(), got)) return false;
    if (std::ferror(in)) {
        error = "cannot read the compressed file: " + SystemReason();
        return false;
    }
    return true;
}

}  // namespace

Result<std::int64_t> CompressFitsFile(const std::string& plain, const std::string& target,
                                      const std::atomic<bool>* stop) {
    // Disk files by their literal names: CFITSIO's extended syntax would read "run[1]" as a
    // section of "run".
    int status = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, plain.c_str(), READONLY, &status);
    FitsHandle in(raw);
    if (status != 0)
        return Status::Error(ShownName(target) + ": " +
                             CfitsioReason("cannot read the file to compress", status));
    ScratchFile packed(target);
    if (!packed.ok()) return Status::Error(packed.error());
    raw = nullptr;
    const int first = StartPacked(in.get(), plain, packed.path(), &raw, status);
    FitsHandle out(raw);
    CompressHdus(in.get(), out.get(), first, status);
    if (status == 0) {
        raw = out.release();
        fits_close_file(raw, &status);
    }
    if (status != 0)
        return Status::Error(ShownName(target) + ": " + CfitsioReason("cannot compress", status));
    SafeFile file(target);
    std::string error;
    // A stop asked until the file is complete and on the disk keeps the old target.
    if (CopyInto(packed.path(), file, error) && file.SyncIfReplacing() && stop && *stop)
        return Status::Error(ShownName(target) + ": cancelled; nothing written");
    if (file.ok() && error.empty() && file.Commit()) {
        struct stat st {};
        return stat(target.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    }
    return Status::Error(error.empty() ? file.error() : ShownName(target) + ": " + error);
}

}  // namespace fits
