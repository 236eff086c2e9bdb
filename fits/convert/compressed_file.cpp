#include "fits/convert/compressed_file.h"

#include <fitsio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "fits/automation/c_file.h"

#include "fits/automation/safe_file.h"
#include "fits/input/cfitsio_handle.h"

namespace fits {
namespace {

// Copies every HDU of `in` into `out`: images (of any size) tile-compressed, Rice for whole
// numbers, GZIP without quantization for floating point; tables as they are. `status` as
// CFITSIO's.
void CompressHdus(fitsfile* in, fitsfile* out, int& status) {
    for (int k = 1; status == 0; ++k) {
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
        fits_set_compression_type(out, bitpix > 0 ? RICE_1 : GZIP_1, &status);
        if (bitpix < 0) fits_set_quantize_level(out, 0.0f, &status);  // lossless
        fits_img_compress(in, out, &status);
    }
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
    unlink(packed.path().c_str());  // CFITSIO creates it anew; the name stays registered
    raw = nullptr;
    fits_create_diskfile(&raw, packed.path().c_str(), &status);
    FitsHandle out(raw);
    CompressHdus(in.get(), out.get(), status);
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
