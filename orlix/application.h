// Our stand-in acquisition application: DataDocument on real SPE files, a simulated camera
// behind Experiment, and the documents the application keeps (acquired or created for
// display), which a viewer window may show.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "fits/automation/automation.h"
#include "orlix/settings.h"
#include "orlix/spe_file.h"

namespace orlix {

// An acquisition started on a document and not yet finalized.
struct PendingAcquisition {
    ExperimentSettings settings;
    std::int16_t datatype = kSpeUInt16;
    std::chrono::steady_clock::time_point done_at;
};

// The frames (from 0) of a document written since its viewer last read them: one interval,
// empty when first > last. A document starts with every frame unseen.
struct UnseenFrames {
    std::int64_t first = 0, last = std::numeric_limits<std::int64_t>::max();
    void Add(std::int64_t k) {
        if (first > last)
            first = last = k;
        else
            first = std::min(first, k), last = std::max(last, k);
    }
    bool Has(std::int64_t k) const { return first <= k && k <= last; }
    void Clear() { first = 1, last = 0; }
};

// What a document holds; shared between the converter's object and the application, which
// keeps documents that it shows after the converter has let go of them.
struct DocumentState {
    std::unique_ptr<SpeFile> file;
    std::string full_path;  // the file's path made absolute when opened
    std::optional<PendingAcquisition> pending;
    // A viewer reads a frame again only when it was written since: filling a document of many
    // frames then costs the viewer one read, not one per frame.
    UnseenFrames unseen;
};

class Application : public fits::AutomationFactory {
  public:
    using ShowHook = std::function<void(std::shared_ptr<DocumentState>)>;

    std::unique_ptr<fits::DataDocument> NewDataDocument() override;
    std::unique_ptr<fits::Experiment> NewExperiment() override;
    std::string DataFolder() override;

    // Called when the application shows a document (created new, or acquired), and again on
    // each Refresh of it. Without a hook (no display) nothing opens.
    void SetShowHook(ShowHook hook) { show_ = std::move(hook); }
    void Show(const std::shared_ptr<DocumentState>& state);
    // Called when a kept document is closed (a display that failed closes the document it
    // created, whose file is then removed): whatever shows it goes too.
    void SetCloseHook(ShowHook hook) { close_ = std::move(hook); }
    // Documents the application keeps open.
    std::vector<std::shared_ptr<DocumentState>> KeptDocuments() const { return kept_; }
    void Keep(const std::shared_ptr<DocumentState>& state);
    // Stops keeping `state` and tells the close hook; nothing happens for a document not kept.
    void Release(const std::shared_ptr<DocumentState>& state);

  private:
    ShowHook show_;
    ShowHook close_;
    std::vector<std::shared_ptr<DocumentState>> kept_;
};

// Synthetic frame `index` (from 0) of a simulated acquisition: Gaussian spots (or, for one
// row, a spectrum with lines) on a background with noise from a fixed seed. Deterministic.
void SynthesizeFrame(const ExperimentSettings& settings, std::int64_t index, fits::Frame& frame);

}  // namespace orlix
