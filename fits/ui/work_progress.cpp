#include "fits/ui/work_progress.h"

#include <QApplication>
#include <QProgressDialog>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include "fits/automation/progress.h"

namespace fits::ui {
namespace {

constexpr int kShowAfterMs = 500;   // shorter work ends without a dialog flashing up
constexpr int kEventsEveryMs = 25;  // how often the waiting events run: well under a frame's
                                    // time at the 250 ms a user notices as a freeze
constexpr int kSteps = 1000;        // resolution of the progress bar

}  // namespace

void FitTitle(QProgressDialog& dialog) {
    // Room for the title bar's icon and three buttons (about five title heights) and margins.
    const QFontMetrics fm(dialog.font());
    const int wanted = fm.horizontalAdvance(dialog.windowTitle()) + 5 * (fm.height() + 8) + 32;
    dialog.setMinimumWidth(std::max(dialog.minimumWidth(), wanted));
}

WorkProgress::WorkProgress(QWidget* window, const QString& title) : window_(window), title_(title) {
    clock_.start();
    since_events_.start();
    if (window_) {
        was_enabled_ = window_->isEnabled();
        window_->setEnabled(false);
    }
}

WorkProgress::~WorkProgress() {
    if (dialog_) QApplication::restoreOverrideCursor();
    dialog_.reset();
    if (window_) window_->setEnabled(was_enabled_);
}

bool WorkProgress::Step(const QString& label, std::int64_t done, std::int64_t total) {
    if (since_events_.elapsed() < kEventsEveryMs) return !cancelled_;
    if (!dialog_ && clock_.elapsed() >= kShowAfterMs && !cancelled_) {
        dialog_ = std::make_unique<QProgressDialog>(label, "Cancel", 0, kSteps, window_);
        dialog_->setObjectName("workProgress");
        dialog_->setWindowTitle(title_);
        FitTitle(*dialog_);
        dialog_->setWindowModality(Qt::NonModal);
        dialog_->setEnabled(true);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
        dialog_->setMinimumDuration(0);
        // The busy pointer would hide that Cancel can be clicked.
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        dialog_->show();
    }
    if (dialog_) {
        dialog_->setLabelText(label);
        const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0;
        if (dialog_->maximum() > 0)
            dialog_->setValue(static_cast<int>(kSteps * std::clamp(share, 0.0, 1.0)));
    }
    QApplication::processEvents();
    since_events_.restart();
    if (dialog_ && dialog_->wasCanceled()) cancelled_ = true;
    return !cancelled_;
}

void WorkProgress::RunAside(const QString& label, const std::function<void()>& work,
                            std::atomic<bool>& stop) {
    // A Cancel hides the dialog, but the work ends first: the dialog comes back saying so,
    // without its button, until then.
    QString shown = label;
    RunBeside(
        work,
        [&] {
            if (!Step(shown, 0, 0)) {
                stop = true;
                if (dialog_ && shown == label) {
                    shown = label + "\n\nCancelling: this cannot be interrupted and ends first.";
                    dialog_->setLabelText(shown);
                    dialog_->setCancelButton(nullptr);
                    dialog_->show();
                }
            }
            if (dialog_ && dialog_->maximum() != 0) dialog_->setRange(0, 0);  // busy: no share
        },
        std::chrono::milliseconds(kEventsEveryMs / 5));
    if (dialog_) dialog_->setRange(0, kSteps);
}

QString ByteCount(std::int64_t done, std::int64_t total) {
    // Below a MiB the count is in KiB, so that it moves as the bar does.
    const bool small = total < (1 << 20);
    const double unit = small ? 1 << 10 : 1 << 20;
    return QString("%1 of %2 %3")
        .arg(static_cast<double>(done) / unit, 0, 'f', small ? 0 : 1)
        .arg(static_cast<double>(total) / unit, 0, 'f', small ? 0 : 1)
        .arg(small ? "KiB" : "MiB");
}

}  // namespace fits::ui
