#include "orlix/application.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <thread>

namespace orlix {
namespace {

namespace fs = std::filesystem;
using fits::Status;
using fits::Variant;

// The SPE datatype an acquisition with these settings produces.
std::optional<std::int16_t> AcquisitionDatatype(const ExperimentSettings& settings) {
    if (settings.type_code == 0) return settings.floating ? kSpeFloat32 : kSpeInt32;
    return CodeToDatatype(settings.type_code);
}

// The path made absolute (the folder is the one of the moment the document is opened);
// the path as given when the current folder is unknown.
std::string FullPath(const std::string& path) {
    std::error_code ec;
    fs::path full = fs::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

// A fresh file name in the data folder: acquisition-YYYYMMDD-HHMMSS[-n].spe.
std::string NewAcquisitionPath() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string base = DataFolder() + "/acquisition-" + stamp;
    std::string path = base + ".spe";
    for (int n = 2; fs::exists(path); ++n)
        path = base + "-" + std::to_string(n) + ".spe";
    return path;
}

class Document : public fits::DataDocument, public fits::RowRangeReader {
  public:
    explicit Document(Application& app) : app_(app) {}

    Variant GetParam(std::int32_t number) override;
    Status Open(const std::string& name, std::int32_t columns, std::int32_t rows,
                std::int32_t frames, std::int32_t type, const std::string& newName) override;
    Status Refresh() override;
    Status GetFrame(std::int64_t n, fits::Frame& frame) override;
    Status PutFrame(std::int64_t n, const fits::Frame& frame) override;
    fits::RowRangeReader* RowReader() override { return state_->file ? this : nullptr; }
    fits::Result<fits::FrameLayout> Layout(std::int64_t n) override;
    Status ReadRows(std::int64_t n, std::int64_t first_row, std::int64_t count,
                    std::span<std::uint8_t> out) override;
    Status Finalize() override;
    Status Close() override;
    std::string Notice() override;
    std::string DataTypeText() override;
    fits::DocumentMetadata GetMetadata() override;
    std::optional<fits::FrameTable> GetFrameTable(std::vector<std::string>& notes) override;
    Status GetRegionFrame(std::int64_t n, std::int32_t region, fits::Frame& frame) override;
    Status SetWavelengths(const std::vector<double>& nm) override {
        if (!state_->file) return Status::Error("no data file is open");
        Status s = state_->file->SetWavelengths(nm);
        // A list the file cannot hold (no polynomial of its calibration holds it to 0.1 pm,
        // as an SPE 3.0 file's list may be) is kept beside the file for as long as the
        // document is shown.
        only_shown_ = !s && state_->file->KeepWavelengthsShown(nm);
        if (s || only_shown_) state_->unseen = UnseenFrames{};  // every frame shown anew
        return only_shown_ ? Status::Ok() : s;
    }
    bool WavelengthsOnlyShown() override { return only_shown_; }

    DocumentState& State() { return *state_; }

  private:
    Status Acquire(const PendingAcquisition& pending);

    Application& app_;
    std::shared_ptr<DocumentState> state_ = std::make_shared<DocumentState>();
    bool only_shown_ = false;
};

class SimulatedExperiment : public fits::Experiment {
  public:
    Variant GetParam(std::int32_t number) override;
    Status Start(fits::DataDocument& document) override;
    Status Wait() override;

  private:
    ExperimentSettings settings_ = LoadSettings();
    std::optional<std::chrono::steady_clock::time_point> done_at_;
};

Variant Document::GetParam(std::int32_t number) {
    if (!state_->file) return {};
    const SpeInfo& info = state_->file->Info();
    switch (number) {
        case fits::doc_param::kExposure:
            if (!info.exposure_known) return {};
            if (info.exposure_is_float) return static_cast<float>(info.exposure_seconds);
            return info.exposure_seconds;
        case fits::doc_param::kColumns:
            return static_cast<std::int32_t>(info.columns);
        case fits::doc_param::kRows:
            return static_cast<std::int32_t>(info.rows);
        case fits::doc_param::kDataType:
            return DatatypeToCode(info.datatype);
        case fits::doc_param::kFrames:
            return static_cast<std::int32_t>(info.frames);
        case fits::doc_param::kPath:
            return state_->full_path.empty() ? info.path : state_->full_path;
        default:
            return {};
    }
}

Status Document::Open(const std::string& name, std::int32_t columns, std::int32_t rows,
                      std::int32_t frames, std::int32_t type, const std::string& newName) {
    Close();
    if (!name.empty()) {
        auto file = SpeFile::Open(name);
        if (!file) return file.status();
        state_->file = std::move(file.value());
        state_->full_path = FullPath(name);
        return Status::Ok();
    }
    if (newName.empty()) return Status::Error("a new document needs a file name");
    auto datatype = CodeToDatatype(type);
    if (!datatype)
        return Status::Error(newName + ": data type code " + std::to_string(type) +
                             " cannot be stored in an SPE file");
    auto file = SpeFile::Create(newName, columns, rows, frames, *datatype);
    if (!file) return file.status();
    state_->file = std::move(file.value());
    state_->full_path = FullPath(newName);
    app_.Keep(state_);
    return Status::Ok();
}

Status Document::Refresh() {
    if (state_->file) {
        if (Status s = state_->file->Flush(); !s) return s;
        app_.Show(state_);
    }
    return Status::Ok();
}

Status Document::GetFrame(std::int64_t n, fits::Frame& frame) {
    if (!state_->file) return Status::Error("no data file is open");
    return state_->file->ReadFrame(n - 1, frame);
}

fits::Result<fits::FrameLayout> Document::Layout(std::int64_t n) {
    if (!state_->file) return Status::Error("no data file is open");
    const SpeInfo& info = state_->file->Info();
    if (Status s = state_->file->CheckFrame(n - 1); !s) return s;
    if (Status s = state_->file->CheckWholeFrames(); !s) return s;
    return fits::FrameLayout{*DatatypeElement(info.datatype), info.columns, info.rows};
}

Status Document::ReadRows(std::int64_t n, std::int64_t first_row, std::int64_t count,
                          std::span<std::uint8_t> out) {
    if (!state_->file) return Status::Error("no data file is open");
    return state_->file->ReadRows(n - 1, first_row, count, out);
}

fits::DocumentMetadata Document::GetMetadata() {
    return state_->file ? state_->file->Info().metadata : fits::DocumentMetadata{};
}

std::optional<fits::FrameTable> Document::GetFrameTable(std::vector<std::string>& notes) {
    return state_->file ? state_->file->ReadFrameTable(notes) : std::nullopt;
}

Status Document::GetRegionFrame(std::int64_t n, std::int32_t region, fits::Frame& frame) {
    if (!state_->file) return Status::Error("no data file is open");
    if (region < 1) return Status::Error("region " + std::to_string(region) + " does not exist");
    return state_->file->ReadRegion(n - 1, static_cast<std::size_t>(region - 1), frame);
}

Status Document::PutFrame(std::int64_t n, const fits::Frame& frame) {
    if (!state_->file) return Status::Error("no data file is open");
    Status s = state_->file->WriteFrame(n - 1, frame);
    if (s) state_->unseen.Add(n - 1);
    return s;
}

Status Document::Finalize() {
    if (state_->pending) {
        PendingAcquisition pending = *state_->pending;
        state_->pending.reset();
        return Acquire(pending);
    }
    return state_->file ? state_->file->Flush() : Status::Ok();
}

// Writes the acquired frames as a new SPE file in the data folder and keeps the document.
Status Document::Acquire(const PendingAcquisition& pending) {
    std::this_thread::sleep_until(pending.done_at);
    std::error_code ec;
    fs::create_directories(DataFolder(), ec);
    if (ec) return Status::Error(DataFolder() + ": cannot create the data folder: " + ec.message());
    const ExperimentSettings& s = pending.settings;
    auto file = SpeFile::Create(NewAcquisitionPath(), s.columns, s.rows, s.frames, pending.datatype,
                                static_cast<float>(s.exposure_seconds));
    if (!file) return file.status();
    fits::Frame frame;
    for (std::int64_t k = 0; k < s.frames; ++k) {
        SynthesizeFrame(s, k, frame);
        if (Status st = file.value()->WriteFrame(k, frame); !st) return st;
    }
    if (Status st = file.value()->Flush(); !st) return st;
    state_->file = std::move(file.value());
    app_.Keep(state_);
    return Status::Ok();
}

std::string Document::DataTypeText() {
    if (!state_->file) return {};
    const std::int16_t datatype = state_->file->Info().datatype;
    return "data type " + std::to_string(datatype) + " (" + DatatypeName(datatype) + ")";
}

std::string Document::Notice() {
    if (!state_->file) return {};
    const SpeInfo& info = state_->file->Info();
    std::string notice;
    if (info.frames < info.header_frames)
        notice = "the file is shorter than its header says: " + std::to_string(info.frames) +
                 " of " + std::to_string(info.header_frames) +
                 " frames present; the frames present are read";
    if (!info.exposure_problem.empty())
        notice += (notice.empty() ? "" : "; ") + info.exposure_problem;
    return notice.empty() ? notice : fits::ShownName(info.path) + ": " + notice;
}

// Lets go of the file; a document the application keeps stays open there.
Status Document::Close() {
    app_.Release(state_);  // a kept document closed by its creator is no longer shown
    state_ = std::make_shared<DocumentState>();
    return Status::Ok();
}

Variant SimulatedExperiment::GetParam(std::int32_t number) {
    switch (number) {
        case fits::exp_param::kExposure:
            return settings_.exposure_seconds;
        case fits::exp_param::kFrames:
            return settings_.frames;
        case fits::exp_param::kDataType:
            return settings_.type_code;
        case fits::exp_param::kColumns:
            return settings_.columns;
        case fits::exp_param::kRows:
            return settings_.rows;
        case fits::exp_param::kFloatFlag:
            return settings_.floating;
        default:
            return {};
    }
}

Status SimulatedExperiment::Start(fits::DataDocument& document) {
    auto* target = dynamic_cast<Document*>(&document);
    if (!target) return Status::Error("the document does not belong to this application");
    settings_ = LoadSettings();
    auto datatype = AcquisitionDatatype(settings_);
    if (!datatype)
        return Status::Error("the experiment's data type code " +
                             std::to_string(settings_.type_code) + " cannot be acquired");
    auto duration = std::chrono::duration<double>(settings_.exposure_seconds * settings_.frames);
    done_at_ = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
    target->Close();
    target->State().pending = PendingAcquisition{settings_, *datatype, *done_at_};
    return Status::Ok();
}

Status SimulatedExperiment::Wait() {
    if (!done_at_) return Status::Error("no acquisition was started");
    std::this_thread::sleep_until(*done_at_);
    return Status::Ok();
}

}  // namespace

std::unique_ptr<fits::DataDocument> Application::NewDataDocument() {
    return std::make_unique<Document>(*this);
}

std::string Application::DataFolder() {
    return orlix::DataFolder();
}

std::unique_ptr<fits::Experiment> Application::NewExperiment() {
    return std::make_unique<SimulatedExperiment>();
}

void Application::Show(const std::shared_ptr<DocumentState>& state) {
    if (show_) show_(state);
}

void Application::Keep(const std::shared_ptr<DocumentState>& state) {
    if (std::find(kept_.begin(), kept_.end(), state) == kept_.end()) kept_.push_back(state);
}

void Application::Release(const std::shared_ptr<DocumentState>& state) {
    auto it = std::find(kept_.begin(), kept_.end(), state);
    if (it == kept_.end()) return;
    kept_.erase(it);
    if (close_) close_(state);
}

}  // namespace orlix
