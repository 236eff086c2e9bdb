#include "fits/convert/commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <utility>

#include "fits/convert/fits_extensions.h"
#include "fits/convert/safe_file.h"
#include "fits/convert/type_codes.h"
#include "fits/header/header_check.h"
#include "fits/input/header_reader.h"

namespace fits {

std::string FitsPathFor(const std::string& spePath, const std::string& outputDir) {
    if (outputDir.empty()) return ChangeExtension(spePath, "fit");
    auto slash = spePath.rfind('/');
    std::string name = slash == std::string::npos ? spePath : spePath.substr(slash + 1);
    std::string dir = outputDir;
    if (!dir.ends_with('/')) dir += '/';
    return dir + ChangeExtension(name, "fit");
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
// an earlier output of the same batch.
class OutputGuard {
  public:
    explicit OutputGuard(const std::vector<std::string>& inputs) {
        for (const std::string& input : inputs)
            if (auto id = IdOf(input)) inputs_.insert(*id);
    }
    // Why `target` must not be written for `input`; empty when it may.
    std::string Check(const std::string& input, const std::string& target) const {
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
        written_names_.emplace(Spelling(target), input);
        if (auto id = IdOf(target)) written_ids_.insert(*id);
    }

  private:
    std::set<FileId> inputs_, written_ids_;
    std::map<std::string, std::string> written_names_;
};

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

// Refuses a data file whose samples have no FITS sample type (64-bit float, unsigned 32-bit),
// naming the data file and its type: a Standard header for it would ask for BITPIX 0.
Status CheckSampleType(AutomationFactory& factory, DataDocument& document,
                       const std::string& path) {
    const auto code = document.GetParam(doc_param::kDataType).ToInt32();
    if (!code || TypeToBitpix(*code, factory) != "0") return Status::Ok();
    // The data file knows its type's name; its frames' layout refuses them with that name.
    if (RowRangeReader* rows = document.RowReader())
        if (auto layout = rows->Layout(1); !layout) return layout.status();
    return Status::Error(ShownName(path) + ": data type code " + std::to_string(*code) +
                         " is not supported");
}

}  // namespace

CommandReport ConvertFiles(HeaderContext& context, Reporter& reporter,
                           const std::vector<std::string>& paths, const ConvertOptions& options,
                           const FileProgress& progress, const ScienceOptions& science) {
    CommandReport report;
    // The header file is read once: a pipe gives its bytes only once.
    HeaderSource added;
    if (options.standard && !options.addFile.empty()) {
        std::vector<std::string> warnings;
        auto text = ReadFileHeader(options.addFile, &warnings);
        if (!text) {
            report.failures.push_back(text.message() + " (header file; no file converted)");
            return report;
        }
        for (const std::string& warning : warnings)
            reporter.Warning(warning);
        added = HeaderSource{options.addFile, std::move(*text)};
    }
    if (!options.standard) {
        const std::string name =
            options.customName.empty() ? "Custom header" : ShownName(options.customName);
        if (auto problem = FindHeaderProblem(context.store.Text(), HeaderCheck::kComplete)) {
            report.failures.push_back(DescribeProblem(name, *problem) + "; no file converted");
            return report;
        }
        if (Status s = CheckDataLayout(context.store.Text(), name).status(); !s) {
            report.failures.push_back(s.message() + " for any file");
            return report;
        }
    }
    OutputGuard guard(paths);
    bool warned_left_out = false;
    std::unique_ptr<DataDocument> document;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        const std::string fits_path = FitsPathFor(path, options.outputDir);
        auto outcome = Guarded(path, [&]() -> Result<WriteOutcome> {
            if (!document) document = context.factory.NewDataDocument();
            if (Status opened = document->Open(path, 0, 0, 0, 0, ""); !opened) return opened;
            struct Closer {
                DataDocument& d;
                ~Closer() { d.Close(); }
            } closer{*document};
            if (std::string notice = document->Notice(); !notice.empty()) reporter.Warning(notice);
            const DocumentMetadata metadata = document->GetMetadata();
            if (metadata.RegionsDiffer() && !(options.standard && science.regions))
                return Status::Error(RegionsDifferMessage(path, metadata) +
                                     (options.standard ? "" : " (Standard header only)"));
            if (options.standard) {
                if (Status s = CheckSampleType(context.factory, *document, path); !s) return s;
                auto left_out = BuildStandardHeader(context, document.get(), added);
                if (!warned_left_out && !left_out.empty()) {
                    reporter.Warning(LeftOutWarning(options.addFile, left_out));
                    warned_left_out = true;
                }
            }
            if (std::string refused = guard.Check(path, fits_path); !refused.empty())
                return Status::Error(refused);
            if (options.standard)
                return WriteWithOptions(context, reporter, *document, fits_path, science);
            return WriteFitsFile(context.store.Text(), *document, fits_path, reporter);
        });
        if (outcome) guard.Written(path, fits_path);
        Record(report, outcome, fits_path);
        if (progress && !progress(i + 1, paths.size()) && i + 1 < paths.size()) {
            report.cancelled = true;
            break;
        }
    }
    return report;
}

CommandReport RunExperiment(HeaderContext& context, Reporter& reporter, bool standard,
                            const std::string& addFile, const ScienceOptions& science) {
    CommandReport report;
    if (!standard) {
        if (auto problem = FindHeaderProblem(context.store.Text(), HeaderCheck::kComplete)) {
            report.failures.push_back(DescribeProblem("Custom header", *problem) +
                                      "; nothing acquired");
            return report;
        }
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
    std::string fits_path = ChangeExtension(data_path, "fit");
    Record(report,
           Guarded(data_path,
                   [&]() -> Result<WriteOutcome> {
                       if (standard)
                           return WriteWithOptions(context, reporter, *document, fits_path,
                                                   science);
                       return WriteFitsFile(context.store.Text(), *document, fits_path, reporter);
                   }),
           fits_path);
    return report;
}

Status SaveHeader(const std::string& headerText, const std::string& path) {
    // A header block must open in FITS readers; a text header may be a set of cards to add
    // to another header, but each of them must be one a header can hold.
    const bool block = IsFitsName(path);
    if (auto problem =
            FindHeaderProblem(headerText, block ? HeaderCheck::kComplete : HeaderCheck::kPartial))
        return Status::Error(DescribeProblem(ShownName(path), *problem) + "; header not saved");
    const std::string text = block ? BuildHeaderBlock(headerText) : headerText;
    SafeFile file(path);
    if (file.Write(text.data(), text.size()) && file.Commit()) return Status::Ok();
    return Status::Error(file.error());
}

}  // namespace fits
