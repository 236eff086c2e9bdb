#include "fits/convert/commands.h"

#include <filesystem>
#include <fstream>

#include "fits/convert/fits_extensions.h"
#include "fits/input/header_reader.h"

namespace fits {

std::string FitsPathFor(const std::string& spePath, const std::string& outputDir) {
    if (outputDir.empty()) return ChangeExtension(spePath, "fit");
    std::string name = std::filesystem::path(spePath).filename().string();
    return (std::filesystem::path(outputDir) / ChangeExtension(name, "fit")).string();
}

namespace {

void Record(CommandReport& report, const Result<WriteOutcome>& outcome, const std::string& path) {
    if (!outcome.ok())
        report.failures.push_back(outcome.message());
    else if (outcome->written)
        report.written.push_back(path);
}

}  // namespace

CommandReport ConvertFiles(HeaderContext& context, Reporter& reporter,
                           const std::vector<std::string>& paths, const ConvertOptions& options,
                           const FileProgress& progress, const ScienceOptions& science) {
    CommandReport report;
    std::unique_ptr<DataDocument> document;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (!document) document = context.factory.NewDataDocument();
        if (Status opened = document->Open(path, 0, 0, 0, 0, ""); !opened) {
            report.failures.push_back(opened.message());
        } else {
            std::string fits_path = FitsPathFor(path, options.outputDir);
            const DocumentMetadata metadata = document->GetMetadata();
            if (metadata.RegionsDiffer() && !(options.standard && science.regions)) {
                report.failures.push_back(RegionsDifferMessage(path, metadata) +
                                          (options.standard ? "" : " (Standard header only)"));
            } else if (options.standard) {
                BuildStandardHeader(context, document.get(), options.addFile);
                Record(report, WriteWithOptions(context, reporter, *document, fits_path, science),
                       fits_path);
            } else {
                Record(report, WriteFitsFile(context.store.Text(), *document, fits_path, reporter),
                       fits_path);
            }
            document->Close();
        }
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
    if (standard) BuildStandardHeader(context, nullptr, addFile);
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
    if (standard)
        Record(report, WriteWithOptions(context, reporter, *document, fits_path, science),
               fits_path);
    else
        Record(report, WriteFitsFile(context.store.Text(), *document, fits_path, reporter),
               fits_path);
    return report;
}

Status SaveHeader(const std::string& headerText, const std::string& path) {
    const std::string text = IsFitsName(path) ? BuildHeaderBlock(headerText) : headerText;
    const std::string temp = path + ".saving";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return Status::Error(path + ": cannot create");
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(temp);
            return Status::Error(path + ": cannot write");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return Status::Error(path + ": cannot replace: " + ec.message());
    }
    return Status::Ok();
}

}  // namespace fits
