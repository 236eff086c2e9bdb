// fits-convert: converts SPE files to FITS without a window, on the converter's core and the
// embedded acquisition application.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fits/automation/safe_file.h"
#include "fits/convert/commands.h"
#include "fits/header/header_check.h"
#include "fits/input/header_reader.h"
#include "orlix/application.h"
#include "project_version.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAllConverted = 0, kSomeFailed = 1, kBadUsage = 2;

const char kUsage[] =
    "Usage: fits-convert [options] SPE-FILE|FOLDER...\n"
    "Converts SPE data files to FITS files (NAME.spe -> NAME.fit). A folder stands for every\n"
    "SPE file in it (with -r, in it and in every folder below it); a folder without any is\n"
    "nothing to convert, no failure.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR       write the FITS files into DIR, made when missing (default:\n"
    "                         beside each SPE file); with -r, into the same tree of folders\n"
    "                         under DIR\n"
    "  -r, --recursive        walk folders to any depth (links to folders are not followed)\n"
    "  --update               convert only SPE files whose FITS file is missing, older than\n"
    "                         the SPE file or the header file, without a card of the header\n"
    "                         file, or written with other --metadata/--bzero/--regions\n"
    "                         choices\n"
    "  -j, --jobs N           convert N files at a time (default 1; 0: one per core)\n"
    "  --report FILE          write one CSV line per input to FILE (input, output, outcome,\n"
    "                         reason, bytes)\n"
    "  --compress             lossless tile compression (Rice for whole numbers, GZIP for\n"
    "                         floating point), as CFITSIO and astropy read it; the files are\n"
    "                         named NAME.fit.fz\n"
    "  --add-header FILE      append FILE's header (FITS or text) to the Standard header\n"
    "  --header FILE          Custom header: write FILE's header (FITS or text), checked\n"
    "                         against the FITS rules, for every file instead of the Standard\n"
    "                         header\n"
    "  --save-header FILE     also write the header alone to FILE: a FITS header block when\n"
    "                         the name contains \".fit\", otherwise text; without SPE files,\n"
    "                         the Standard header comes from the current experiment settings\n"
    "  --metadata             add what the SPE file records: wavelength axis (WCS), DATE-OBS,\n"
    "                         detector temperature, binning, grating, comments\n"
    "  --bzero                unsigned data as signed with BZERO: 16-bit as BITPIX 16 with\n"
    "                         BZERO 32768 (half size), 32-bit as BITPIX 32, BZERO 2147483648\n"
    "  --regions              every region of interest as its own image extension REGION1,\n"
    "                         REGION2, ..., with DETSEC and its binning (regions of\n"
    "                         different widths are refused without it)\n"
    "  -q, --quiet            no progress bar and no summary line; failures and warnings\n"
    "                         still go to standard error\n"
    "  -h, --help             show this help\n"
    "  --version              show the version\n"
    "  --                     end of options: every word after it is a file or folder\n"
    "\n"
    "Exit status: 0 when every file converted (or was up to date), 1 when any failed, 2 for\n"
    "bad usage.\n";

// Everything the command line asks for.
struct Options {
    fits::ConvertOptions convert;
    fits::ScienceOptions science;
    std::string custom_header;
    std::string save_header;
    std::string report;
    bool report_given = false, save_header_given = false;  // even as an empty name
    bool recursive = false;
    int jobs = 1;
    std::string jobs_text;  // as typed, read by ParseJobs
    bool jobs_given = false;
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
    app.add_flag("-r,--recursive", options.recursive);
    app.add_flag("--update", options.convert.update);
    app.add_option("-j,--jobs", options.jobs_text);
    app.add_option("--report", options.report);
    app.add_flag("--compress", options.convert.compress);
    app.add_option("--add-header", options.convert.addFile);
    app.add_option("--header", options.custom_header);
    app.add_option("--save-header", options.save_header);
    app.add_flag("--metadata", options.science.metadata);
    app.add_flag("--bzero", options.science.bzero);
    app.add_flag("--regions", options.science.regions);
    app.add_flag("-q,--quiet", options.quiet);
    app.add_option("inputs", options.inputs);
    app.allow_extras(true);  // unknown options are kept, and named by Parse one line each
}

// Says a usage mistake in one line with the way to the help, as neighbouring tools do;
// returns the exit status for bad usage.
int BadUsage(const std::string& what) {
    std::cerr << "fits-convert: " << what << "; see fits-convert --help\n";
    return kBadUsage;
}

// Reads -j's value into options.jobs; the usage mistake when it is no number of jobs.
std::string ParseJobs(Options& options) {
    if (!options.jobs_given) return {};
    const std::string& text = options.jobs_text;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, options.jobs);
    if (ec != std::errc{} || stop != end || options.jobs < 0)
        return "-j: '" + fits::ShownName(text) + "' is not a number of jobs";
    if (options.jobs > 1024) return "-j: " + text + " jobs are more than 1024";
    return {};
}

// Parses the command line; returns an exit status to stop with, or -1 to go on.
int Parse(int argc, char** argv, Options& options) {
    CLI::App app("fits-convert");
    Declare(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string what = e.what();  // "--output: 1 required TEXT missing"
        return BadUsage(what.substr(0, what.find(':')) + " needs a value");
    } catch (const CLI::ParseError& e) {
        return BadUsage(e.what());
    }
    // "--" ends the options, as in neighbouring tools: the words after it are inputs, also
    // those that begin with "-".
    for (const std::string& extra : app.remaining())
        if (extra.size() > 1 && extra[0] == '-' && extra != "--")
            return BadUsage("unknown option '" + fits::ShownName(extra) + "'");
    options.jobs_given = app.count("--jobs") > 0;
    options.report_given = app.count("--report") > 0;
    options.save_header_given = app.count("--save-header") > 0;
    if (options.help) {
        std::cout << kUsage;
        return kAllConverted;
    }
    if (std::string problem = ParseJobs(options); !problem.empty()) return BadUsage(problem);
    if (options.version) {
        std::cout << "fits-convert " << PROJECT_VERSION_TEXT << "\n"
                  << PROJECT_LICENCE_TEXT << "\n";
        return kAllConverted;
    }
    options.science.writer = std::string("fits-convert ") + PROJECT_VERSION_TEXT;
    const fits::ScienceOptions& science = options.science;
    if (!options.custom_header.empty() && (science.metadata || science.bzero || science.regions)) {
        return BadUsage(
            "--metadata, --bzero and --regions add to the Standard header and "
            "cannot be used with --header");
    }
    if (!options.custom_header.empty() && !options.convert.addFile.empty()) {
        return BadUsage(
            "--add-header adds to the Standard header and cannot be used with "
            "--header");
    }
    if (options.inputs.empty() && !options.save_header_given)
        return BadUsage("no SPE file or folder given");
    return -1;
}

// The SPE files found, with the FITS path each gets (mirrored under -o with -r), and the
// folders and entries that could not be read, each a failed row of the report.
struct Inputs {
    std::vector<std::string> files;
    std::vector<std::string> targets;
    std::vector<fits::FileOutcome> unread;
};

// Records `path` as not read, for `reason`.
void Unread(Inputs& inputs, const std::string& path, const std::string& reason) {
    inputs.unread.push_back(
        {path, "", fits::FileOutcome::Kind::kFailed, fits::ShownName(path) + ": " + reason});
}

// The SPE files of a folder, sorted: only its own with `recursive` false, else those of every
// folder below it too (links to folders are not followed, so no loop is possible). A folder or
// entry that cannot be read is recorded, and the walk goes on with the others.
std::vector<std::string> FolderFiles(const std::string& folder, bool recursive, Inputs& inputs) {
    std::vector<std::string> found;
    std::vector<fs::path> pending{folder};
    while (!pending.empty()) {
        const fs::path current = std::move(pending.back());
        pending.pop_back();
        std::error_code ec;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code entry_ec;
            if (recursive && it->symlink_status(entry_ec).type() == fs::file_type::directory)
                pending.push_back(it->path());
            else if (!IsSpeName(it->path()))
                continue;
            else if (it->is_regular_file(entry_ec))
                found.push_back(it->path().string());
            else if (entry_ec)
                Unread(inputs, it->path().string(), entry_ec.message());
        }
        if (ec) Unread(inputs, current.string(), "cannot read the folder: " + ec.message());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Expands folders into their SPE files; with -r and -o, each file's FITS path mirrors its
// place below the folder named. A folder without SPE files adds nothing and is no failure
// (an empty archive is up to date), as copying an empty folder is none.
Inputs Expand(const Options& options) {
    Inputs inputs;
    const bool mirror = options.recursive && !options.convert.outputDir.empty();
    const bool compress = options.convert.compress;
    for (const std::string& input : options.inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            inputs.files.push_back(input);
            inputs.targets.push_back(fits::FitsPathFor(input, options.convert.outputDir, compress));
            continue;
        }
        for (const std::string& file : FolderFiles(input, options.recursive, inputs)) {
            inputs.files.push_back(file);
            if (!mirror) {
                inputs.targets.push_back(
                    fits::FitsPathFor(file, options.convert.outputDir, compress));
                continue;
            }
            const std::string below = fs::path(file).lexically_relative(input).string();
            std::string dir = options.convert.outputDir;
            if (!dir.ends_with('/')) dir += '/';
            inputs.targets.push_back(dir +
                                     fits::ChangeExtension(below, fits::FitsExtension(compress)));
        }
    }
    return inputs;
}

// The report's first line; an existing file that begins with it is an earlier report.
const char kReportColumns[] = "input,output,outcome,reason,bytes\n";

// Why the existing file at `path` is not replaced by the report or the saved header
// (`report`: which): a file this command did not write (a data file, another program's) is
// kept, as a typo in the name must not cost it. An earlier report begins with the report's
// columns; an earlier header, text or header block, is ASCII text throughout. Empty when
// nothing is there or it may be replaced.
std::string ExistingFileProblem(const std::string& path, bool report) {
    constexpr std::uintmax_t kLargestHeader = 16 << 20;  // 200 000 cards
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return {};  // none; anything else fails when written
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size == 0) return {};
    std::string head(std::min<std::uintmax_t>(size, report ? 64 : kLargestHeader), '\0');
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const bool read = file && std::fread(head.data(), 1, head.size(), file) == head.size();
    if (file) std::fclose(file);
    const auto is_text = [](char c) {
        return (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t';
    };
    const bool ours =
        read && (report ? head.starts_with(kReportColumns)
                        : size <= kLargestHeader && std::all_of(head.begin(), head.end(), is_text));
    if (ours) return {};
    return fits::ShownName(path) + ": not written as the " +
           (report ? "report: it exists and is no earlier report"
                   : "saved header: it exists and is no header (it holds data)") +
           "; remove it or name another file";
}

// Why the report or the saved header must not be written where the options name them (an
// input, a header source, a FITS file of the run, the other one of the two, or an existing
// file of another kind); empty when both may.
std::string SideOutputsProblem(const Options& options, const Inputs& inputs) {
    std::vector<std::string> reads = inputs.files;
    reads.push_back(options.convert.addFile);
    reads.push_back(options.custom_header);
    std::vector<std::string> writes = inputs.targets;
    if (options.report_given) {
        writes.push_back(options.save_header);
        if (std::string problem = fits::SideOutputProblem("report", options.report, reads, writes);
            !problem.empty())
            return problem;
        if (std::string problem = ExistingFileProblem(options.report, true); !problem.empty())
            return problem;
        writes.pop_back();
    }
    if (!options.save_header_given) return {};
    writes.push_back(options.report);
    if (std::string problem =
            fits::SideOutputProblem("saved header", options.save_header, reads, writes);
        !problem.empty())
        return problem;
    return ExistingFileProblem(options.save_header, false);
}

// Why DIR cannot take the FITS files; empty when it can.
std::string CheckOutputFolder(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        return fits::ShownName(dir) + ": cannot use as output folder: " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return fits::ShownName(dir) + ": not a folder";
    return {};
}

// The bar counts bytes of SPE files over the whole batch.
void DrawProgress(std::uint64_t done, std::uint64_t total) {
    constexpr int kWidth = 30;
    const double part =
        total == 0 ? 1.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    const int filled = static_cast<int>(kWidth * part);
    std::fprintf(stderr, "\r[%s%s] %3d%%",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(),
                 static_cast<int>(100 * part));
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

// One CSV field: quoted when it holds a comma, a quote or a line end (quotes doubled).
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The report of every input, written like every other output (a temporary file renamed over
// FILE when complete); the reason when it cannot be written.
fits::Status WriteReport(const std::string& path, const std::vector<fits::FileOutcome>& unread,
                         const std::vector<fits::FileOutcome>& files) {
    std::string text = kReportColumns;
    std::vector<fits::FileOutcome> rows = unread;
    rows.insert(rows.end(), files.begin(), files.end());
    for (const fits::FileOutcome& f : rows) {
        const char* outcome = f.kind == fits::FileOutcome::Kind::kConverted  ? "converted"
                              : f.kind == fits::FileOutcome::Kind::kUpToDate ? "up to date"
                              : f.kind == fits::FileOutcome::Kind::kFailed   ? "failed"
                                                                             : "not converted";
        text += CsvField(f.input) + "," + CsvField(f.output) + "," + outcome + "," +
                CsvField(f.reason) + "," + std::to_string(f.bytes) + "\n";
    }
    fits::SafeFile file(path);
    if (file.Write(text.data(), text.size()) && file.Commit()) return fits::Status::Ok();
    return fits::Status::Error(file.error() + " (report)");
}

// Makes the output folder when missing (with the folders above it, as mkdir -p does) and
// checks that it is a folder; -1 when it can be used, else the exit status, the reason told.
// A path that exists and is no folder is bad usage and is never replaced; a folder the system
// will not make (permissions, a read-only or full file system) is a failure of the run.
int PrepareOutputFolder(const Options& options) {
    const std::string& dir = options.convert.outputDir;
    if (dir.empty()) return -1;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) {
        fs::create_directories(dir, ec);
        if (ec) {
            std::cerr << fits::ShownName(dir) << ": cannot make the output folder: " << ec.message()
                      << " (nothing converted)\n";
            return kSomeFailed;
        }
    }
    if (std::string problem = CheckOutputFolder(dir); !problem.empty()) {
        std::cerr << problem << "\n";
        return kBadUsage;
    }
    return -1;
}

// Makes the --header file's header the Custom header of the conversion. A Custom header that
// cannot be used is bad usage, whatever is wrong with it: no file is converted (false, with
// the reason told). A header only saved as text may be a set of cards.
bool UseCustomHeader(Options& options, fits::HeaderStore& store, fits::Reporter& reporter) {
    std::vector<std::string> warnings;
    auto custom = fits::ReadHeaderTemplate(options.custom_header, &warnings);
    if (!custom) {
        std::cerr << fits::ShownName(custom.message()) << " (header file; no file converted)\n";
        return false;
    }
    if (auto problem = fits::FindHeaderProblem(*custom, fits::HeaderCheck::kComplete);
        problem && !options.inputs.empty()) {
        std::cerr << fits::DescribeProblem(fits::ShownName(options.custom_header), *problem)
                  << " (header file; no file converted)\n";
        return false;
    }
    for (const std::string& warning : warnings)
        reporter.Warning(warning);
    options.convert.standard = false;
    options.convert.customName = options.custom_header;
    fits::SetHeaderText(store, *custom);
    return true;
}

// The progress bar's tally over a batch. Each input weighs its SPE file's bytes; a file being
// written counts the part of its FITS bytes written so far, so that the bar moves within a
// file (one big file, or a batch of large ones) and not only as files finish. Workers tell it
// from any thread: it keeps its own lock, and draws only when the percentage shown changes.
class ByteBar {
  public:
    explicit ByteBar(const std::vector<std::string>& files) {
        for (const std::string& file : files) {
            std::error_code ec;
            const auto size = fs::file_size(file, ec);
            unfinished_.emplace(file, sizes_.size());
            sizes_.push_back(ec ? 0 : size);
            total_ += sizes_.back();
        }
    }
    // Makes the conversion tell the bar of its bytes as they are written and of each file done.
    void Feed(fits::ConvertOptions& convert) {
        convert.writing = [this](std::size_t i, std::int64_t done, std::int64_t all) {
            std::lock_guard lock(lock_);
            if (i < sizes_.size() && all > 0)
                writing_[i] = static_cast<std::uint64_t>(static_cast<double>(sizes_[i]) *
                                                         static_cast<double>(done) /
                                                         static_cast<double>(all));
            Draw();
            return true;
        };
        convert.finished = [this](const fits::FileOutcome& outcome) {
            std::lock_guard lock(lock_);
            if (auto it = unfinished_.find(outcome.input); it != unfinished_.end()) {
                done_ += sizes_[it->second];
                writing_.erase(it->second);
                unfinished_.erase(it);
            }
            Draw();
        };
    }

  private:
    void Draw() {
        std::uint64_t done = done_;
        for (const auto& [i, part] : writing_)
            done += std::min(part, sizes_[i]);
        const int percent = total_ == 0 ? 100 : static_cast<int>(100 * done / total_);
        if (percent == shown_ && (done < total_ || finished_)) return;
        shown_ = percent;
        finished_ = done >= total_;
        DrawProgress(done, total_);
    }

    std::mutex lock_;
    std::vector<std::uint64_t> sizes_;                    // of each input's SPE file
    std::multimap<std::string, std::size_t> unfinished_;  // input path: its index
    std::map<std::size_t, std::uint64_t> writing_;        // input index: its bytes done so far
    std::uint64_t total_ = 0, done_ = 0;
    int shown_ = -1;
    bool finished_ = false;
};

// Writes the header alone for --save-header: the header the store holds, or, for a Standard
// header without files, the one the current experiment settings give. True when it was saved.
bool SaveHeaderFile(const Options& options, fits::HeaderContext& context, fits::Reporter& reporter,
                    bool no_files, std::vector<std::string>& failures) {
    fits::Status built;
    if (no_files && options.convert.standard) {
        std::vector<std::string> warnings;
        auto left_out =
            fits::BuildStandardHeader(context, nullptr, options.convert.addFile, &warnings);
        built = left_out.status();
        for (const std::string& warning : warnings)
            reporter.Warning(warning);
        if (left_out && !left_out->empty())
            reporter.Warning(fits::LeftOutWarning(options.convert.addFile, *left_out));
    }
    if (!built) {
        failures.push_back(built.message() + " (header not saved)");
        return false;
    }
    if (auto saved = fits::SaveHeader(context.store.Text(), options.save_header); !saved) {
        failures.push_back(saved.message());
        return false;
    }
    return true;
}

// The summary line: how many files were converted (or that there was nothing to convert),
// and where the header was saved when it was.
std::string Summary(const Options& options, const Inputs& inputs, const fits::CommandReport& report,
                    bool header_saved) {
    std::string said;
    if (!inputs.files.empty() || !inputs.unread.empty()) {
        said = std::to_string(report.written.size()) + " of " +
               std::to_string(inputs.files.size()) + " file(s) converted";
        if (options.convert.update)
            said += ", " + std::to_string(report.up_to_date) + " up to date";
        if (!inputs.unread.empty())
            said +=
                "; " + std::to_string(inputs.unread.size()) + " folder(s) or other entries failed";
    } else if (!options.inputs.empty()) {
        said = "nothing to convert";
    }
    if (header_saved)
        said += (said.empty() ? "header saved to " : "; header saved to ") +
                fits::ShownName(options.save_header);
    return said;
}

// Runs the conversions and the saved header; returns the exit status.
int Run(Options& options) {
    if (const int status = PrepareOutputFolder(options); status >= 0) return status;
    orlix::Application app;
    fits::MemoryHeaderStore store;
    fits::HeaderContext context{store, app};
    StderrReporter reporter;
    if (!options.custom_header.empty() && !UseCustomHeader(options, store, reporter))
        return kBadUsage;

    Inputs inputs = Expand(options);
    if (std::string problem = SideOutputsProblem(options, inputs); !problem.empty()) {
        std::cerr << fits::ShownName(problem) << " (nothing converted)\n";
        return kBadUsage;
    }
    std::vector<std::string> failures;
    for (const fits::FileOutcome& unread : inputs.unread)
        failures.push_back(unread.reason);
    const std::vector<std::string>& files = inputs.files;
    if (options.recursive && !options.convert.outputDir.empty())
        options.convert.targets = inputs.targets;
    options.convert.jobs = options.jobs == 0
                               ? static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))
                               : options.jobs;
    options.convert.newFactory = [] { return std::make_unique<orlix::Application>(); };
    ByteBar bar(files);
    if (!options.quiet && isatty(STDERR_FILENO)) bar.Feed(options.convert);
    fits::CommandReport report;
    if (!files.empty())
        report = fits::ConvertFiles(context, reporter, files, options.convert, {}, options.science);
    failures.insert(failures.end(), report.failures.begin(), report.failures.end());
    if (options.report_given)
        if (fits::Status s = WriteReport(options.report, inputs.unread, report.files); !s)
            failures.push_back(s.message());
    const bool header_saved = options.save_header_given &&
                              SaveHeaderFile(options, context, reporter, files.empty(), failures);
    for (const std::string& failure : failures)
        std::cerr << fits::ShownName(failure) << "\n";
    if (const std::string said = Summary(options, inputs, report, header_saved);
        !options.quiet && !said.empty())
        std::cout << said << "\n";
    const bool all = failures.empty() && report.written.size() + report.up_to_date == files.size();
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
