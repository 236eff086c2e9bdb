// fits-convert: converts SPE files to FITS without a window, on the converter's core and the
// embedded acquisition application.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "fits/convert/commands.h"
#include "fits/input/header_reader.h"
#include "orlix/application.h"
#include "project_version.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAllConverted = 0, kSomeFailed = 1, kBadUsage = 2;

const char kUsage[] =
    "Usage: fits-convert [options] SPE-FILE|FOLDER...\n"
    "Converts SPE data files to FITS files (NAME.spe -> NAME.fit). A folder stands for every\n"
    "SPE file in it.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR       write the FITS files into DIR (default: beside each SPE file)\n"
    "  --add-header FILE      append FILE's header (FITS or text) to the Standard header\n"
    "  --header FILE          Custom header: write FILE's header (FITS or text), checked\n"
    "                         against the FITS rules, for every file instead of the Standard\n"
    "                         header\n"
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
    "  --version              show the version\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any failed, 2 for bad usage.\n";

// Everything the command line asks for.
struct Options {
    fits::ConvertOptions convert;
    fits::ScienceOptions science;
    std::string custom_header;
    std::string save_header;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> inputs;
};

class StderrReporter : public fits::Reporter {
  public:
    void MessageBox(const std::string& text, const std::string& caption) override {
        std::cerr << "\r" << fits::ShownName(caption + ": " + text) << "\n";
    }
    void Warning(const std::string& text) override {
        std::cerr << "\rwarning: " << fits::ShownName(text) << "\n";
    }
};

bool IsSpeName(const fs::path& path) {
    return fits::ToLower(path.extension().string()) == ".spe";
}

// The options, declared once: parsing and the help text's order follow this table.
void Declare(CLI::App& app, Options& options) {
    app.set_help_flag();
    app.add_flag("-h,--help", options.help);
    app.add_flag("--version", options.version);
    app.add_option("-o,--output", options.convert.outputDir);
    app.add_option("--add-header", options.convert.addFile);
    app.add_option("--header", options.custom_header);
    app.add_option("--save-header", options.save_header);
    app.add_flag("--metadata", options.science.metadata);
    app.add_flag("--bzero", options.science.bzero);
    app.add_flag("--regions", options.science.regions);
    app.add_flag("-q,--quiet", options.quiet);
    app.add_option("inputs", options.inputs);
    app.allow_extras(false);
}

// Parses the command line; returns an exit status to stop with, or -1 to go on.
int Parse(int argc, char** argv, Options& options) {
    CLI::App app("fits-convert");
    Declare(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string what = e.what();  // "--output: 1 required TEXT missing"
        std::cerr << "fits-convert: " << what.substr(0, what.find(':')) << " needs a value\n"
                  << kUsage;
        return kBadUsage;
    } catch (const CLI::ExtrasError& e) {
        std::cerr << "fits-convert: unknown option (" << e.what() << ")\n" << kUsage;
        return kBadUsage;
    } catch (const CLI::ParseError& e) {
        std::cerr << "fits-convert: " << e.what() << "\n" << kUsage;
        return kBadUsage;
    }
    if (options.help) {
        std::cout << kUsage;
        return kAllConverted;
    }
    if (options.version) {
        std::cout << "fits-convert " << PROJECT_VERSION_TEXT << "\n";
        return kAllConverted;
    }
    const fits::ScienceOptions& science = options.science;
    if (!options.custom_header.empty() && (science.metadata || science.bzero || science.regions)) {
        std::cerr << "fits-convert: --metadata, --bzero and --regions add to the Standard "
                     "header and cannot be used with --header\n";
        return kBadUsage;
    }
    if (!options.custom_header.empty() && !options.convert.addFile.empty()) {
        std::cerr << "fits-convert: --add-header adds to the Standard header and cannot be used "
                     "with --header\n";
        return kBadUsage;
    }
    if (options.inputs.empty() && options.save_header.empty()) {
        std::cerr << kUsage;
        return kBadUsage;
    }
    return -1;
}

// Expands folders into their SPE files (sorted); reports folders that cannot be read and
// entries that cannot be looked at (a symlink loop), and goes on.
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
        for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec)) {
            if (!IsSpeName(it->path())) continue;
            std::error_code entry_ec;
            if (it->is_regular_file(entry_ec))
                found.push_back(it->path().string());
            else if (entry_ec)
                failures.push_back(fits::ShownName(it->path().string()) + ": " +
                                   entry_ec.message());
        }
        if (ec)
            failures.push_back(fits::ShownName(input) +
                               ": cannot read the folder: " + ec.message());
        else if (found.empty())
            failures.push_back(fits::ShownName(input) + ": no SPE files in the folder");
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

// Why DIR cannot take the FITS files; empty when it can.
std::string CheckOutputFolder(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        return fits::ShownName(dir) + ": cannot use as output folder: " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return fits::ShownName(dir) + ": not a folder";
    return {};
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

// Runs the conversions and the saved header; returns the exit status.
int Run(Options& options) {
    if (!options.convert.outputDir.empty()) {
        if (std::string problem = CheckOutputFolder(options.convert.outputDir); !problem.empty()) {
            std::cerr << problem << "\n";
            return kBadUsage;
        }
    }
    orlix::Application app;
    fits::MemoryHeaderStore store;
    fits::HeaderContext context{store, app};
    StderrReporter reporter;
    if (!options.custom_header.empty()) {
        std::vector<std::string> warnings;
        auto custom = fits::ReadFileHeader(options.custom_header, &warnings);
        if (!custom) {
            std::cerr << fits::ShownName(custom.message()) << " (header file)\n";
            return kBadUsage;
        }
        for (const std::string& warning : warnings)
            reporter.Warning(warning);
        options.convert.standard = false;
        options.convert.customName = options.custom_header;
        fits::SetHeaderText(store, *custom);
    }

    std::vector<std::string> failures;
    std::vector<std::string> files = Expand(options.inputs, failures);
    const bool bar = !options.quiet && isatty(STDERR_FILENO) && files.size() > 1;
    fits::CommandReport report;
    if (!files.empty())
        report = fits::ConvertFiles(
            context, reporter, files, options.convert,
            [&](std::size_t done, std::size_t total) {
                if (bar) DrawProgress(done, total);
                return true;
            },
            options.science);
    failures.insert(failures.end(), report.failures.begin(), report.failures.end());

    if (!options.save_header.empty()) {
        fits::Status built;
        if (files.empty() && options.convert.standard) {
            std::vector<std::string> warnings;
            auto left_out =
                fits::BuildStandardHeader(context, nullptr, options.convert.addFile, &warnings);
            built = left_out.status();
            for (const std::string& warning : warnings)
                reporter.Warning(warning);
            if (left_out && !left_out->empty())
                reporter.Warning(fits::LeftOutWarning(options.convert.addFile, *left_out));
        }
        if (!built)
            failures.push_back(built.message() + " (header not saved)");
        else if (auto saved = fits::SaveHeader(store.Text(), options.save_header); !saved)
            failures.push_back(saved.message());
    }
    for (const std::string& failure : failures)
        std::cerr << fits::ShownName(failure) << "\n";
    if (!options.quiet)
        std::cout << report.written.size() << " of " << files.size() << " file(s) converted\n";
    const bool all = failures.empty() && report.written.size() == files.size();
    return all ? kAllConverted : kSomeFailed;
}

// The exit status once standard output is written out: what was printed there (the summary,
// the help, the version) is part of the result, so a failed write fails the run.
int Finish(int status) {
    errno = 0;
    std::cout.flush();
    if (std::fflush(stdout) == 0 && std::cout.good() && !std::ferror(stdout)) return status;
    const int error = errno;
    std::cerr << "fits-convert: cannot write to standard output"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
    return status == kAllConverted ? kSomeFailed : status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int status = Parse(argc, argv, options); status >= 0) return Finish(status);
    try {
        return Finish(Run(options));
    } catch (const std::exception& e) {
        std::cerr << "fits-convert: " << fits::ShownName(e.what()) << "\n";
        return Finish(kSomeFailed);
    }
}
