// Displays a FITS file as the window does and prints what the display document holds, for
// display_check.py to compare with astropy, one item a line: "card TEXT" for each card of the
// header the window's box shows, "type NAME", "note TEXT" for
// each note, "nm" and the wavelength of each column (none without an axis), then "frame" and
// every value of each frame in file order, as the viewer shows them.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "fits/input/fits_display.h"
#include "orlix/application.h"

namespace {

void Print(double v) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, v).ptr;
    std::printf(" %.*s", static_cast<int>(end - text), text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    auto header = fits::ReadDisplayedHeader(argv[1]);
    if (!header) {
        std::fprintf(stderr, "%s\n", header.message().c_str());
        return 1;
    }
    for (std::size_t at = 0, end; at < header->size(); at = end + 2) {
        end = std::min(header->find("\r\n", at), header->size());
        std::printf("card %s\n", header->substr(at, end - at).c_str());
    }
    orlix::Application app;
    std::string shown;
    std::vector<std::string> notes;
    if (fits::Status s = fits::DisplayFitsFile(app, argv[1], &shown, {}, &notes); !s) {
        std::fprintf(stderr, "%s\n", s.message().c_str());
        return 1;
    }
    if (app.KeptDocuments().empty()) return 3;
    orlix::SpeFile& file = *app.KeptDocuments().back()->file;
    const orlix::SpeInfo& info = file.Info();
    std::printf("type %s\n", orlix::DatatypeName(info.datatype).c_str());
    for (const std::string& note : notes)
        std::printf("note %s\n", note.c_str());
    std::printf("nm");
    if (info.metadata.regions.size() == 1)
        for (double nm : info.metadata.regions[0].wavelengths)
            Print(nm);
    std::printf("\n");
    fits::Frame frame;
    for (std::int64_t f = 0; f < info.frames; ++f) {
        if (!file.ReadFrame(f, frame)) return 4;
        std::printf("frame");
        for (std::int64_t r = 0; r < frame.Rows(); ++r)
            for (std::int64_t c = 0; c < frame.Columns(); ++c) {
                const double v = frame.At(c, r);
                Print(info.datatype == orlix::kSpeUInt16 && v < 0 ? v + 65536 : v);
            }
        std::printf("\n");
    }
    return 0;
}
