// Run Experiment without a frozen window: the experiments this factory hands out wait for
// their acquisition in a progress dialog with Cancel, so the window keeps painting.
#pragma once

#include <memory>

#include "fits/automation/automation.h"

class QWidget;

namespace fits::ui {

class WatchedFactory : public AutomationFactory {
  public:
    // `window` parents the progress dialog and is blocked while it shows.
    WatchedFactory(AutomationFactory& inner, QWidget* window) : inner_(inner), window_(window) {}

    std::unique_ptr<DataDocument> NewDataDocument() override { return inner_.NewDataDocument(); }
    std::unique_ptr<Experiment> NewExperiment() override;

    // Whether the user cancelled a wait; the acquisition was then abandoned before its data
    // were finalized, so nothing was written.
    bool Cancelled() const { return cancelled_; }
    // Cancels the wait that is running (as its Cancel button does); nothing when none runs.
    void Cancel();

  private:
    AutomationFactory& inner_;
    QWidget* window_;
    bool cancelled_ = false;
    bool cancel_requested_ = false;  // read by the running wait at its next tick
};

}  // namespace fits::ui
