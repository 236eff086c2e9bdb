// Files opened with CFITSIO, closed on every way out, and its error texts as messages say them.
#pragma once

#include <fitsio.h>

#include <memory>
#include <string>

namespace fits {

struct CloseFits {
    void operator()(fitsfile* f) const {
        int ignored = 0;
        fits_close_file(f, &ignored);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, CloseFits>;

// CFITSIO's text for a status, with what was being done: "cannot compress: ...".
inline std::string CfitsioReason(const char* doing, int status) {
    char text[FLEN_STATUS] = "";
    fits_get_errstatus(status, text);
    return std::string(doing) + ": " + text;
}

}  // namespace fits
