// fits-convert: converts SPE files to FITS without a window, on the converter's core and the
// embedded acquisition application.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "fits/convert/commands.h"
#include "fits/input/header_reader.h"
#include "orlix/application.h"

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: fits-convert [options] SPE-FILE|FOLDER...\n"
    "Converts SPE data files to FITS files (NAME.spe -> NAME.fit). A folder stands for every\n"
    "SPE file in it.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR       write the FITS files into DIR (default: beside each SPE file)\n"
    "  --add-header FILE      append FILE's header (FITS or text) to the Standard header\n"
    "  --header FILE          Custom header: write FILE's header (FITS or text) unchanged\n"
    "                         for every file instead of the Standard header\n"
    "  --save-header FILE     also write the header alone to FILE: a FITS header block when\n"
    "                         the name contains \".fit\", otherwise text; without SPE files,\n"
    "                         the Standard header comes from the current experiment settings\n"
    "  --metadata             add what the SPE file records: wavelength axis (WCS), DATE-OBS,\n"
    "                         detector temperature, binning, grating, comments\n"
    "  --bzero                unsigned 16-bit data as BITPIX 16 with BZERO 32768 (half size)\n"
    "  --regions              regions of interest of different widths as image extensions\n"
    "                         REGION1, REGION2, ... (such files are refused without it)\n"
    "  -q, --quiet            no progress bar\n"
    "  -h, --help             show this help\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any failed, 2 for bad usage.\n";

struct Options {
    fits::ConvertOptions convert;
    fits::ScienceOptions science;
    std::string custom_header;
    std::string save_header;
    bool quiet = false;
    std::vector<std::string> inputs;
};

class StderrReporter : public fits::Reporter {
  public:
    void MessageBox(const std::string& text, const std::string& caption) override {
        std::cerr << "\r" << caption << ": " << text << "\n";
    }
    void Warning(const std::string& text) override { std::cerr << "\rwarning: " << text << "\n"; }
};

bool IsSpeName(const fs::path& path) {
    return fits::ToLower(path.extension().string()) == ".spe";
}

// Parses the command line; returns an exit status to stop with, or -1 to go on.
int Parse(int argc, char** argv, Options& options) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                std::cerr << "fits-convert: " << a << " needs a value\n" << kUsage;
                return false;
            }
            into = args[++i];
            return true;
        };
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "-o" || a == "--output") {
            if (!value(options.convert.outputDir)) return 2;
        } else if (a == "--add-header") {
            if (!value(options.convert.addFile)) return 2;
        } else if (a == "--header") {
            if (!value(options.custom_header)) return 2;
        } else if (a == "--save-header") {
            if (!value(options.save_header)) return 2;
        } else if (a == "--metadata") {
            options.science.metadata = true;
        } else if (a == "--bzero") {
            options.science.bzero = true;
        } else if (a == "--regions") {
            options.science.regions = true;
        } else if (a == "-q" || a == "--quiet") {
            options.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "fits-convert: unknown option " << a << "\n" << kUsage;
            return 2;
        } else {
            options.inputs.push_back(a);
        }
    }
    const fits::ScienceOptions& science = options.science;
    if (!options.custom_header.empty() && (science.metadata || science.bzero || science.regions)) {
        std::cerr << "fits-convert: --metadata, --bzero and --regions add to the Standard "
                     "header and cannot be used with --header\n";
        return 2;
    }
    if (options.inputs.empty() && options.save_header.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    return -1;
}

// Expands folders into their SPE files (sorted); reports folders that cannot be read.
std::vector<std::string> Expand(const std::vector<std::string>& inputs,
                                std::vector<std::string>& failures) {
    std::vector<std::string> files;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file() && IsSpeName(it->path()))
                found.push_back(it->path().string());
        if (ec)
            failures.push_back(input + ": cannot read the folder: " + ec.message());
        else if (found.empty())
            failures.push_back(input + ": no SPE files in the folder");
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

void DrawProgress(std::size_t done, std::size_t total) {
    constexpr int kWidth = 30;
    int filled = static_cast<int>(kWidth * done / std::max<std::size_t>(total, 1));
    std::fprintf(stderr, "\r[%s%s] %zu/%zu",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), done, total);
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int status = Parse(argc, argv, options); status >= 0) return status;
    std::vector<std::string> failures;
    if (!options.custom_header.empty()) {
        std::error_code ec;
        if (!fs::is_regular_file(options.custom_header, ec)) {
            std::cerr << options.custom_header << ": no such header file\n";
            return 2;
        }
        options.convert.standard = false;
    }
    if (!options.convert.addFile.empty() && !fs::is_regular_file(options.convert.addFile))
        failures.push_back(options.convert.addFile + ": no such header file (nothing appended)");
    if (!options.convert.outputDir.empty() && !fs::is_directory(options.convert.outputDir)) {
        std::cerr << options.convert.outputDir << ": no such folder\n";
        return 2;
    }

    orlix::Application app;
    fits::MemoryHeaderStore store;
    fits::HeaderContext context{store, app};
    StderrReporter reporter;
    if (!options.convert.standard)
        fits::SetHeaderText(store, fits::ReadFileHeader(options.custom_header));

    std::vector<std::string> files = Expand(options.inputs, failures);
    const bool bar = !options.quiet && isatty(STDERR_FILENO) && files.size() > 1;
    auto report = fits::ConvertFiles(
        context, reporter, files, options.convert,
        [&](std::size_t done, std::size_t total) {
            if (bar) DrawProgress(done, total);
            return true;
        },
        options.science);
    failures.insert(failures.end(), report.failures.begin(), report.failures.end());

    if (!options.save_header.empty()) {
        if (files.empty() && options.convert.standard)
            fits::BuildStandardHeader(context, nullptr, options.convert.addFile);
        if (auto saved = fits::SaveHeader(store.Text(), options.save_header); !saved)
            failures.push_back(saved.message());
    }
    for (const std::string& failure : failures)
        std::cerr << failure << "\n";
    if (!options.quiet)
        std::cout << report.written.size() << " of " << files.size() << " file(s) converted\n";
    return failures.empty() ? 0 : 1;
}
