#include "fits/ui/acquisition_progress.h"
#include "fits/ui/work_progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace fits::ui {
namespace {

constexpr int kTickMs = 50;        // how often the dialog follows the clock
constexpr int kShowAfterMs = 400;  // shorter acquisitions finish without a dialog flashing up
constexpr int kSteps = 1000;       // resolution of the progress bar

// An experiment whose Wait shows the acquisition's progress until it should be done, then
// waits for the rest inside the application. The expected length is exposure × frames, the
// two parameters through which the converter sees the experiment's timing.
class WatchedExperiment : public Experiment {
  public:
    WatchedExperiment(std::unique_ptr<Experiment> inner, QWidget* window, bool& cancelled,
                      const bool& cancel_requested)
        : inner_(std::move(inner)),
          window_(window),
          cancelled_(cancelled),
          cancel_requested_(cancel_requested) {}

    Variant GetParam(std::int32_t number) override { return inner_->GetParam(number); }
    Status Start(DataDocument& document) override { return inner_->Start(document); }
    Status Wait() override;

  private:
    double Seconds(std::int32_t number) {
        return ParseNumber(inner_->GetParam(number).ToText()).value_or(0);
    }

    std::unique_ptr<Experiment> inner_;
    QWidget* window_;
    bool& cancelled_;
    const bool& cancel_requested_;
};

Status WatchedExperiment::Wait() {
    const double exposure = std::max(0.0, Seconds(exp_param::kExposure));
    const double frames = std::max(1.0, Seconds(exp_param::kFrames));
    const double total_ms = exposure * frames * 1000;
    if (!std::isfinite(total_ms) || total_ms < kTickMs) return inner_->Wait();

    QProgressDialog progress("Acquiring...", "Cancel", 0, kSteps, window_);
    progress.setObjectName("acquisitionProgress");
    progress.setWindowTitle("Run Experiment");
    FitTitle(progress);
    // Not modal: the window is disabled instead, so that closing it still reaches it (and asks
    // whether to cancel) rather than being ignored as a blocked window's close is.
    progress.setWindowModality(Qt::NonModal);
    struct Disabled {
        QWidget* w;
        ~Disabled() {
            if (w) w->setEnabled(true);
        }
    } disabled{window_};
    if (window_) window_->setEnabled(false);
    progress.setEnabled(true);
    progress.setMinimumDuration(kShowAfterMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // The busy pointer would hide that Cancel can be clicked.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (cancel_requested_) {
            progress.cancel();  // wasCanceled() from now on, as after the Cancel button
            loop.quit();
            return;
        }
        const double elapsed = static_cast<double>(clock.elapsed());
        if (elapsed >= total_ms) {
            loop.quit();
            return;
        }
        const auto frame = std::min(frames, std::floor(elapsed / (exposure * 1000)) + 1);
        progress.setLabelText(QString("Acquiring frame %1 of %2 (%3 s of %4 s)...")
                                  .arg(frame, 0, 'f', 0)
                                  .arg(frames, 0, 'f', 0)
                                  .arg(elapsed / 1000, 0, 'f', 1)
                                  .arg(total_ms / 1000, 0, 'f', 1));
        progress.setValue(static_cast<int>(kSteps * elapsed / total_ms));
    });
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    tick.start(kTickMs);
    loop.exec();
    tick.stop();
    QApplication::restoreOverrideCursor();
    if (progress.wasCanceled()) {
        cancelled_ = true;
        return Status::Error("cancelled");
    }
    return inner_->Wait();
}

}  // namespace

std::unique_ptr<Experiment> WatchedFactory::NewExperiment() {
    return std::make_unique<WatchedExperiment>(inner_.NewExperiment(), window_, cancelled_,
                                               cancel_requested_);
}

void WatchedFactory::Cancel() {
    cancel_requested_ = true;
}

}  // namespace fits::ui
