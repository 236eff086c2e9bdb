#include "fits/convert/commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

#include "fits/automation/safe_file.h"
#include "fits/convert/compressed_file.h"
#include "fits/convert/fits_extensions.h"
#include "fits/convert/provenance.h"
#include "fits/convert/type_codes.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_check.h"
#include "fits/input/header_reader.h"

namespace fits {

std::string FitsExtension(bool compressed) {
    return compressed ? "fit.fz" : "fit";
}

std::string FitsPathFor(const std::string& spePath, const std::string& outputDir, bool compressed) {
    const std::string extension = FitsExtension(compressed);
    if (outputDir.empty()) return ChangeExtension(spePath, extension);
    auto slash = spePath.rfind('/');
    std::string name = slash == std::string::npos ? spePath : spePath.substr(slash + 1);
    std::string dir = outputDir;
    if (!dir.ends_with('/')) dir += '/';
    return dir + ChangeExtension(name, extension);
}

namespace {

using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> IdOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// The path as one spelling: absolute and without "." and ".." steps, so that two names of
// one output compare equal even before the file exists.
std::string Spelling(const std::string& path) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    return (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

// What a batch has read and written, so that no output replaces an input of the command or
// an earlier output of the same batch. Workers share it: every call takes its lock.
class OutputGuard {
  public:
    explicit OutputGuard(const std::vector<std::string>& inputs) {
        for (const std::string& input : inputs)
            if (auto id = IdOf(input)) inputs_.insert(*id);
    }
    // Why `target` must not be written for `input`; empty when it may.
    std::string Check(const std::string& input, const std::string& target) const {
        std::lock_guard lock(mutex_);
        const std::string shown =
            ShownName(input) + ": not converted: its FITS file " + ShownName(target);
        if (auto earlier = written_names_.find(Spelling(target)); earlier != written_names_.end())
            return shown + " was already written from " + ShownName(earlier->second) +
                   " in this run";
        auto id = IdOf(target);
        if (!id) return {};
        if (inputs_.count(*id)) return shown + " is an input of this command";
        if (written_ids_.count(*id)) return shown + " was already written in this run";
        return {};
    }
    void Written(const std::string& input, const std::string& target) {
        std::lock_guard lock(mutex_);
        written_names_.emplace(Spelling(target), input);
        if (auto id = IdOf(target)) written_ids_.insert(*id);
    }

  private:
    mutable std::mutex mutex_;
    std::set<FileId> inputs_, written_ids_;
    std::map<std::string, std::string> written_names_;
};

// Whether `path` and `other` name one file: by spelling, or as one existing file.
bool SameFile(const std::string& path, const std::optional<FileId>& id, const std::string& other) {
    if (other.empty()) return false;
    if (Spelling(path) == Spelling(other)) return true;
    return id && IdOf(other) == id;
}

void Record(CommandReport& report, const Result<WriteOutcome>& outcome, const std::string& path) {
    if (!outcome.ok())
        report.failures.push_back(outcome.message());
    else if (outcome->written)
        report.written.push_back(path);
}

// Runs one file's work; a failed allocation (a frame of several GiB) or another error of the
// library fails that file only.
template <class Work>
Result<WriteOutcome> Guarded(const std::string& path, Work&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Status::Error(ShownName(path) + ": not enough memory to convert it");
    } catch (const std::exception& e) {
        return Status::Error(ShownName(path) + ": " + e.what());
    }
}

// Refuses a data file whose samples have no FITS sample type (64-bit float; unsigned 32-bit
// without `bzero`), naming the data file and its type: a Standard header for it would ask for
// BITPIX 0.
Status CheckSampleType(AutomationFactory& factory, DataDocument& document, const std::string& path,
                       bool bzero) {
    const auto code = document.GetParam(doc_param::kDataType).ToInt32();
    if (!code || TypeToBitpix(*code, factory) != "0") return Status::Ok();
    if (NeedsUnsignedOffset(document)) {
        if (bzero) return Status::Ok();
        std::string type = document.DataTypeText();
        if (type.empty()) type = "data type code " + std::to_string(*code);
        return Status::Error(ShownName(path) + ": " + type + " is not supported without --bzero");
    }
    // The data file knows its type's name; its frames' layout refuses them with that name.
    if (RowRangeReader* rows = document.RowReader())
        if (auto layout = rows->Layout(1); !layout) return layout.status();
    return Status::Error(ShownName(path) + ": data type code " + std::to_string(*code) +
                         " is not supported");
}

// Passes messages on whole, one at a time, with the scratch file's name replaced by the
// target's: a worker's lines never interleave, and no message names a file the user never
// sees.
class WorkerReporter : public Reporter {
  public:
    WorkerReporter(Reporter& out, std::mutex& lock) : out_(out), lock_(lock) {}
    void Rename(std::string from, std::string to) {
        from_ = std::move(from);
        to_ = std::move(to);
    }
    std::string Renamed(std::string text) const {
        for (std::size_t at; !from_.empty() && (at = text.find(from_)) != std::string::npos;)
            text.replace(at, from_.size(), to_);
        return text;
    }
    void MessageBox(const std::string& text, const std::string& caption) override {
        std::lock_guard lock(lock_);
        out_.MessageBox(Renamed(text), caption);
    }
    void Warning(const std::string& text) override { held_.push_back(Renamed(text)); }
    // Passes on the warnings of the file just converted, but for those naming `unwritten`
    // (a FITS file that was not written after all: its warnings would mislead). A warning
    // that opens with the FITS file's name (`target`) opens with "INPUT -> TARGET: ", so that
    // it names the SPE file it is about, as failure lines do. Returns the warnings passed on,
    // joined by "; ".
    std::string Release(const std::string& unwritten, const std::string& input,
                        const std::string& target) {
        std::lock_guard lock(lock_);
        std::string passed;
        for (const std::string& text : held_) {
            if (!unwritten.empty() && text.find(unwritten) != std::string::npos) continue;
            const bool about_target = !target.empty() && text.starts_with(target + ": ");
            out_.Warning(about_target ? input + " -> " + text : text);
            passed += (passed.empty() ? "" : "; ") + text;
        }
        held_.clear();
        return passed;
    }

  private:
    Reporter& out_;
    std::mutex& lock_;
    std::string from_, to_;
    std::vector<std::string> held_;  // the current file's warnings, passed on once it is done
};

// Whether the FITS file is at least as new as the SPE file (to the nanosecond).
bool UpToDate(const std::string& input, const std::string& target) {
    struct stat in {
    }, out{};
    if (stat(input.c_str(), &in) != 0 || stat(target.c_str(), &out) != 0) return false;
    return S_ISREG(out.st_mode) && std::tie(out.st_mtim.tv_sec, out.st_mtim.tv_nsec) >=
                                       std::tie(in.st_mtim.tv_sec, in.st_mtim.tv_nsec);
}

// Everything a batch's workers share.
struct Batch {
    const std::vector<std::string>& paths;
    std::vector<std::string> targets;
    const ConvertOptions& options;
    const ScienceOptions& science;
    const HeaderSource& added;
    const HeaderModel& custom;  // a Custom header, parsed once for every file
    // The cards the header file brings into every FITS file, each without trailing blanks:
    // a FITS file without one of them was written with another header.
    std::vector<std::string> brought;
    OutputGuard guard;
    std::mutex lock;  // messages, the left-out warning, progress
    bool warned_left_out = false;
    std::atomic<bool> stopped{false};  // a `writing` call asked to stop
};

// One worker's own application and header: a document is reused from file to file.
struct Worker {
    HeaderContext context;
    WorkerReporter reporter;
    std::unique_ptr<DataDocument> document;
};

// The size of the file in bytes; 0 when it cannot be read.
std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// The outcome of an input whose FITS file is up to date. That file counts as this run's
// output of the input: a later input with the same FITS file fails as it does when both are
// converted.
FileOutcome UpToDateOutcome(Batch& batch, FileOutcome outcome) {
    if (std::string refused = batch.guard.Check(outcome.input, outcome.output); !refused.empty()) {
        outcome.kind = FileOutcome::Kind::kFailed;
        outcome.reason = refused;
        return outcome;
    }
    batch.guard.Written(outcome.input, outcome.output);
    outcome.kind = FileOutcome::Kind::kUpToDate;
    outcome.bytes = FileSize(outcome.output);
    return outcome;
}

// Makes the folder a FITS file goes in when it does not exist yet.
Status MakeFolderOf(const std::string& fits_path) {
    std::error_code ec;
    if (const auto folder = std::filesystem::path(fits_path).parent_path();
        !folder.empty() && !std::filesystem::is_directory(folder, ec))
        if (std::filesystem::create_directories(folder, ec); ec)
            return Status::Error(ShownName(fits_path) +
                                 ": cannot make its folder: " + ec.message());
    return Status::Ok();
}

// Everything that may refuse input i before its FITS file is opened: the open document's
// regions and sample type, and a target the batch must not write. Builds the Standard header
// (warning once per batch of keywords the added header left out) and makes the target's
// folder when the batch names its targets. The document's facts, read once, go on to the
// writer.
Result<DocumentFacts> PrepareTarget(Batch& batch, Worker& worker, DataDocument& document,
                                    std::size_t i) {
    const std::string& path = batch.paths[i];
    const std::string& fits_path = batch.targets[i];
    const ConvertOptions& options = batch.options;
    if (std::string notice = document.Notice(); !notice.empty()) worker.reporter.Warning(notice);
    auto facts = ReadDocumentFacts(document, path, options.standard && batch.science.regions,
                                   options.standard ? "" : " (Standard header only)");
    if (!facts) return facts;
    if (options.standard) {
        if (Status s = CheckSampleType(worker.context.factory, document, path, batch.science.bzero);
            !s)
            return s;
        auto left_out = BuildStandardHeader(worker.context, &document, batch.added);
        std::lock_guard lock(batch.lock);
        if (!batch.warned_left_out && !left_out.empty()) {
            worker.reporter.Warning(LeftOutWarning(options.addFile, left_out));
            batch.warned_left_out = true;
        }
    }
    if (std::string refused = batch.guard.Check(path, fits_path); !refused.empty())
        return Status::Error(refused);
    if (!options.targets.empty())
        if (Status s = MakeFolderOf(fits_path); !s) return s;
    return facts;
}

using FitsWrite = std::function<Result<WriteOutcome>(const std::string&)>;

// Writes input i's plain FITS file to a scratch file beside the target, naming the target in
// its messages, then compresses it into the target (aside, when the batch has a place for
// such work). The scratch file is gone afterwards either way.
Result<WriteOutcome> WriteCompressed(Batch& batch, Worker& worker, std::size_t i,
                                     const FitsWrite& write) {
    const std::string& fits_path = batch.targets[i];
    ScratchFile scratch(fits_path);
    if (!scratch.ok()) return Status::Error(scratch.error());
    worker.reporter.Rename(ShownName(scratch.path()), ShownName(fits_path));
    auto plain = write(scratch.path());
    const std::string failure = plain ? "" : worker.reporter.Renamed(plain.message());
    worker.reporter.Rename({}, {});
    if (!plain) return Status::Error(failure);
    Result<std::int64_t> compressed = Status::Error(ShownName(fits_path) + ": not compressed");
    const std::function<void()> compress = [&] {
        compressed = CompressFitsFile(scratch.path(), fits_path, &batch.stopped);
        scratch.Remove();
    };
    if (batch.options.aside)
        batch.options.aside(i, compress, batch.stopped);
    else
        compress();
    if (!compressed) return compressed.status();
    return *plain;
}

// Writes input i's FITS file from the open document (its `facts` read once) with the
// batch's header, telling the batch's `writing` of its bytes; a false answer there stops the
// batch.
Result<WriteOutcome> WriteTarget(Batch& batch, Worker& worker, DataDocument& document,
                                 const DocumentFacts& facts, std::size_t i) {
    const ConvertOptions& options = batch.options;
    ByteProgress progress;
    if (options.writing)
        progress = [&](std::int64_t done, std::int64_t total) {
            if (!options.writing(i, done, total)) batch.stopped = true;
            return !batch.stopped;
        };
    HeaderContext& context = worker.context;
    Reporter& reporter = worker.reporter;
    const FitsWrite write = [&](const std::string& to) {
        return options.standard ? WriteWithOptions(context, reporter, document, facts, to,
                                                   batch.science, progress)
                                : WriteFitsFile(batch.custom, document, to, reporter, progress);
    };
    if (!options.compress) return write(batch.targets[i]);
    return WriteCompressed(batch, worker, i, write);
}

// Opens input i in the worker's document (made on first use), converts it and closes it.
Result<WriteOutcome> ConvertDocument(Batch& batch, Worker& worker, std::size_t i) {
    if (!worker.document) worker.document = worker.context.factory.NewDataDocument();
    DataDocument& document = *worker.document;
    if (Status opened = document.Open(batch.paths[i], 0, 0, 0, 0, ""); !opened) return opened;
    struct Closer {
        DataDocument& d;
        ~Closer() { d.Close(); }
    } closer{document};
    const auto facts = PrepareTarget(batch, worker, document, i);
    if (!facts) return facts.status();
    return WriteTarget(batch, worker, document, *facts, i);
}

// Converts input i of the batch with the worker's application.
FileOutcome ConvertOne(Batch& batch, Worker& worker, std::size_t i) {
    const std::string& path = batch.paths[i];
    const std::string& fits_path = batch.targets[i];
    FileOutcome outcome{path, fits_path};
    // Up to date: newer than the SPE file and the header file (an edited header is a reason
    // to convert again), and written with this run's options (a file that records none
    // counts as written with none).
    const std::string& header_file =
        batch.options.standard ? batch.options.addFile : batch.options.customName;
    if (batch.options.update && UpToDate(path, fits_path) &&
        (header_file.empty() || UpToDate(header_file, fits_path))) {
        const WrittenHeader written = ReadWrittenHeader(fits_path);
        if (written.options == OptionsRecord(batch.science) &&
            std::all_of(batch.brought.begin(), batch.brought.end(),
                        [&](const std::string& card) { return written.cards.contains(card); }))
            return UpToDateOutcome(batch, std::move(outcome));
    }
    auto written = Guarded(path, [&] { return ConvertDocument(batch, worker, i); });
    std::string warned =
        worker.reporter.Release(written && written->written ? "" : ShownName(fits_path),
                                ShownName(path), ShownName(fits_path));
    if (!written && batch.stopped) return outcome;  // stopped while writing: not reached
    if (!written) {
        outcome.kind = FileOutcome::Kind::kFailed;
        outcome.reason = written.message();
        return outcome;
    }
    if (!written->written) return outcome;
    batch.guard.Written(path, fits_path);
    outcome.kind = FileOutcome::Kind::kConverted;
    outcome.reason = std::move(warned);  // a batch's report tells what needs a look
    outcome.bytes = FileSize(fits_path);
    return outcome;
}

// The inputs in groups that share a FITS file (spelled alike): one worker converts a group in
// the order given, so that the later ones fail as they do one at a time.
std::vector<std::vector<std::size_t>> GroupsByTarget(const std::vector<std::string>& targets) {
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::string, std::size_t> group_of;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        auto [it, added] = group_of.emplace(Spelling(targets[i]), groups.size());
        if (added) groups.emplace_back();
        groups[it->second].push_back(i);
    }
    return groups;
}

}  // namespace

std::string SideOutputProblem(const std::string& what, const std::string& path,
                              const std::vector<std::string>& reads,
                              const std::vector<std::string>& outputs) {
    if (path.empty()) return "the " + what + " has an empty file name; nothing written";
    const auto id = IdOf(path);
    const std::string shown = ShownName(path) + ": not written as the " + what + ": ";
    for (const std::string& read : reads)
        if (SameFile(path, id, read))
            return shown + "it is " + ShownName(read) + ", which this command reads";
    for (const std::string& output : outputs)
        if (SameFile(path, id, output))
            return shown + "it is " + ShownName(output) + ", which this command writes";
    return {};
}

namespace {

// The added header file of a Standard header, read once (a pipe gives its bytes only once);
// its warnings go to `reporter`.
Result<HeaderSource> ReadHeaderSource(const std::string& path, Reporter& reporter) {
    std::vector<std::string> warnings;
    auto text = ReadHeaderTemplate(path, &warnings);
    if (!text) return Status::Error(text.message() + " (header file; no file converted)");
    for (const std::string& warning : warnings)
        reporter.Warning(warning);
    return HeaderSource{path, std::move(*text)};
}

// The cards a header file brings into each FITS file (see Batch::brought): a Custom header's
// own, an added header's as AppendHeaderText keeps them after a Standard header (the cards
// it holds in any file; which of DATE-OBS, DATE and EXPTIME it holds varies with the file).
std::vector<std::string> CardsBrought(bool standard, const HeaderSource& added,
                                      const HeaderModel& custom) {
    std::vector<std::string> lines;
    if (standard) {
        std::string text;
        for (const char* keyword : {"SIMPLE", "BITPIX", "NAXIS", "DATE-OBS", "DATE", "EXPTIME"})
            text += std::string(keyword) + std::string(8 - std::strlen(keyword), ' ') + "= 0" +
                    std::string(kLineEnd);
        const std::size_t standard_end = text.size();
        AppendHeaderText(text, added.text);
        lines = SplitCards(std::string_view(text).substr(standard_end));
    } else {
        for (const HeaderCard& card : custom.Cards())
            if (!IsStructuralKeyword(card.keyword)) lines.push_back(card.text);
    }
    std::vector<std::string> brought;
    for (const std::string& line : lines)
        if (std::string_view card =
                TrimRight(std::string_view(line).substr(0, static_cast<std::size_t>(kCardBytes)));
            !card.empty())
            brought.emplace_back(card);
    return brought;
}

// Where a Custom header came from, as messages name it (`name`; empty: the window).
std::string CustomHeaderName(const std::string& name) {
    return name.empty() ? "Custom header" : ShownName(name);
}

// Refuses a Custom header that is not a complete header or whose data layout no file can
// have, naming where it came from (`name`; empty: the window).
Status CheckCustomHeader(const HeaderModel& header, const std::string& name) {
    const std::string shown = CustomHeaderName(name);
    if (auto problem = FindHeaderProblem(header, HeaderCheck::kComplete))
        return Status::Error(DescribeProblem(shown, *problem) + "; no file converted");
    if (Status s = CheckDataLayout(header, shown).status(); !s)
        return Status::Error(s.message() + " for any file");
    return Status::Ok();
}

// What a Custom header asks for that its files will not hold, in words (empty when nothing):
// no data (NAXIS 0), and axes whose values stand in a table (CTYPEn '...-TAB') that only
// the converter's own wavelength tables bring. Such a header is written as it stands.
std::vector<std::string> CustomHeaderWarnings(const HeaderModel& header, const std::string& name) {
    const std::string shown = CustomHeaderName(name);
    std::vector<std::string> warnings;
    if (auto layout = CheckDataLayout(header, ""); layout && layout->data_bytes == 0)
        warnings.push_back(shown +
                           ": NAXIS is 0: each FITS file holds the header alone, none of the data "
                           "file's samples");
    for (const HeaderCard& card : header.Cards())
        if (card.keyword.starts_with("CTYPE") && card.kind == ValueKind::kString &&
            ToUpper(Trim(card.value)).ends_with("-TAB"))
            warnings.push_back(shown + ": " + card.keyword + " = '" +
                               std::string(Trim(card.value)) +
                               "' asks for a table the files will not hold; readers cannot "
                               "build that axis");
    return warnings;
}

// The FITS path of each input: the options' targets when they name one per input.
std::vector<std::string> TargetsOf(const std::vector<std::string>& paths,
                                   const ConvertOptions& options) {
    if (options.targets.size() == paths.size()) return options.targets;
    std::vector<std::string> targets;
    for (const std::string& path : paths)
        targets.push_back(FitsPathFor(path, options.outputDir, options.compress));
    return targets;
}

// How a batch's groups are handed out to its workers, and their outcomes gathered; guarded
// by the batch's lock.
struct Schedule {
    const std::vector<std::vector<std::size_t>> groups;
    const FileProgress& progress;
    std::vector<FileOutcome>& files;  // one per input
    std::size_t next_group = 0, done = 0;
    bool stop = false;  // the batch was stopped: no more groups are handed out
};

// Takes the next group to convert, or none when all are taken or the batch was stopped.
std::optional<std::size_t> TakeGroup(Batch& batch, Schedule& schedule) {
    std::lock_guard lock(batch.lock);
    if (schedule.stop || schedule.next_group >= schedule.groups.size()) return std::nullopt;
    return schedule.next_group++;
}

// Converts groups with the worker until none is left, recording each file's outcome.
void RunWorker(Batch& batch, Schedule& schedule, Worker& worker) {
    const std::size_t all = batch.paths.size();
    while (auto g = TakeGroup(batch, schedule)) {
        for (std::size_t i : schedule.groups[*g]) {
            FileOutcome outcome = ConvertOne(batch, worker, i);
            std::lock_guard lock(batch.lock);
            schedule.files[i] = outcome;
            ++schedule.done;
            if (batch.options.finished) batch.options.finished(outcome);
            if (batch.stopped || (schedule.progress && !schedule.progress(schedule.done, all) &&
                                  schedule.done < all))
                schedule.stop = true;
        }
    }
}

// Workers for a batch of `groups` groups: the jobs asked for, at least one and no more than
// there are groups; one without a way to make more applications.
int JobCount(const ConvertOptions& options, std::size_t groups) {
    if (!options.newFactory) return 1;
    return static_cast<int>(std::clamp<std::size_t>(
        static_cast<std::size_t>(std::max(1, options.jobs)), 1, std::max<std::size_t>(1, groups)));
}

// Runs the batch: with the caller's application in place for one worker; otherwise each
// worker has an application and a copy of the header of its own, on a thread of its own.
void RunWorkers(Batch& batch, Schedule& schedule, HeaderContext& context, Reporter& reporter) {
    const ConvertOptions& options = batch.options;
    const int jobs = JobCount(options, schedule.groups.size());
    std::mutex messages;
    if (jobs == 1) {
        Worker worker{context, WorkerReporter(reporter, messages), nullptr};
        RunWorker(batch, schedule, worker);
        return;
    }
    std::vector<std::unique_ptr<AutomationFactory>> factories;
    std::vector<std::unique_ptr<MemoryHeaderStore>> stores;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int k = 0; k < jobs; ++k) {
        factories.push_back(options.newFactory());
        stores.push_back(std::make_unique<MemoryHeaderStore>());
        SetHeaderText(*stores.back(), context.store.Text());
        HeaderContext own{*stores.back(), *factories.back(), context.today};
        workers.push_back(
            std::make_unique<Worker>(Worker{own, WorkerReporter(reporter, messages), nullptr}));
    }
    std::vector<std::thread> threads;
    for (auto& worker : workers)
        threads.emplace_back([&, w = worker.get()] { RunWorker(batch, schedule, *w); });
    for (std::thread& thread : threads)
        thread.join();
}

// Adds the files' outcomes to the report's lists: written, up to date, failed.
void CollectOutcomes(CommandReport& report) {
    for (const FileOutcome& outcome : report.files) {
        switch (outcome.kind) {
            case FileOutcome::Kind::kConverted:
                report.written.push_back(outcome.output);
                break;
            case FileOutcome::Kind::kUpToDate:
                ++report.up_to_date;
                break;
            case FileOutcome::Kind::kFailed:
                report.failures.push_back(outcome.reason);
                break;
            case FileOutcome::Kind::kNotReached:
                break;
        }
    }
}

}  // namespace

CommandReport ConvertFiles(HeaderContext& context, Reporter& reporter,
                           const std::vector<std::string>& paths, const ConvertOptions& options,
                           const FileProgress& progress, const ScienceOptions& science) {
    CommandReport report;
    std::vector<std::string> targets = TargetsOf(paths, options);
    HeaderSource added;
    Status header;
    if (options.standard && !options.addFile.empty()) {
        auto source = ReadHeaderSource(options.addFile, reporter);
        header = source.status();
        if (source) added = std::move(*source);
    }
    HeaderModel custom;
    if (!options.standard) {
        custom = HeaderModel::Parse(context.store.Text());
        header = CheckCustomHeader(custom, options.customName);
        if (header && !paths.empty())
            for (const std::string& warning : CustomHeaderWarnings(custom, options.customName))
                reporter.Warning(warning);
    }
    if (!header) {
        // No file is converted: each input is a failed row of the report, for that reason.
        report.failures.push_back(header.message());
        for (std::size_t i = 0; i < paths.size(); ++i)
            report.files.push_back(
                {paths[i], targets[i], FileOutcome::Kind::kFailed, header.message()});
        return report;
    }
    Batch batch{paths,
                std::move(targets),
                options,
                science,
                added,
                custom,
                CardsBrought(options.standard, added, custom),
                OutputGuard(paths),
                {}};
    report.files.resize(paths.size());
    Schedule schedule{GroupsByTarget(batch.targets), progress, report.files};
    RunWorkers(batch, schedule, context, reporter);
    CollectOutcomes(report);
    report.cancelled = schedule.stop;
    return report;
}

CommandReport RunExperiment(HeaderContext& context, Reporter& reporter, bool standard,
                            const std::string& addFile, const ScienceOptions& science) {
    CommandReport report;
    const HeaderModel custom = standard ? HeaderModel{} : HeaderModel::Parse(context.store.Text());
    if (!standard) {
        if (auto problem = FindHeaderProblem(custom, HeaderCheck::kComplete)) {
            report.failures.push_back(DescribeProblem(CustomHeaderName(""), *problem) +
                                      "; nothing acquired");
            return report;
        }
        for (const std::string& warning : CustomHeaderWarnings(custom, ""))
            reporter.Warning(warning);
    }
    if (standard) {
        std::vector<std::string> warnings;
        auto left_out = BuildStandardHeader(context, nullptr, addFile, &warnings);
        if (!left_out) {
            report.failures.push_back(left_out.message() + " (header file; nothing acquired)");
            return report;
        }
        for (const std::string& warning : warnings)
            reporter.Warning(warning);
        if (!left_out->empty()) reporter.Warning(LeftOutWarning(addFile, *left_out));
    }
    auto experiment = context.factory.NewExperiment();
    auto document = context.factory.NewDataDocument();
    Status s = experiment->Start(*document);
    if (s) s = experiment->Wait();
    if (s) s = document->Finalize();
    if (!s) {
        report.failures.push_back("acquisition failed: " + s.message());
        return report;
    }
    std::string data_path = document->GetParam(doc_param::kPath).ToText();
    if (data_path.empty()) {
        report.failures.push_back("the acquisition did not name its data file");
        return report;
    }
    report.data_file = data_path;
    std::string fits_path = ChangeExtension(data_path, "fit");
    Record(report,
           Guarded(data_path,
                   [&]() -> Result<WriteOutcome> {
                       if (standard)
                           return WriteWithOptions(context, reporter, *document, fits_path,
                                                   science);
                       return WriteFitsFile(custom, *document, fits_path, reporter);
                   }),
           fits_path);
    return report;
}

Status SaveHeader(const std::string& headerText, const std::string& path) {
    return SaveHeaderAs(headerText, path, IsFitsName(path));
}

Status SaveHeaderAs(const std::string& headerText, const std::string& path, bool block) {
    // A header block must open in FITS readers; a text header may be a set of cards to add
    // to another header, but each of them must be one a header can hold.
    const HeaderModel header = HeaderModel::Parse(headerText);
    if (auto problem =
            FindHeaderProblem(header, block ? HeaderCheck::kComplete : HeaderCheck::kPartial))
        return Status::Error(DescribeProblem(ShownName(path), *problem) + "; header not saved");
    const std::string text = block ? header.Block() : headerText;
    SafeFile file(path);
    if (file.Write(text.data(), text.size()) && file.Commit()) return Status::Ok();
    return Status::Error(file.error());
}

}  // namespace fits
