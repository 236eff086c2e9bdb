// Long commands without a frozen window: between pieces of its work a command calls Step,
// which lets the window and the viewers paint and, once the work has run for a moment, shows
// a progress dialog with Cancel.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace fits::ui {

// Widens a progress dialog so that the window system's title bar shows its whole title
// beside its buttons.
void FitTitle(QProgressDialog& dialog);

class WorkProgress {
  public:
    // `window` parents the dialog, titled `title`; it is disabled while this lasts (not
    // blocked, so that closing it still reaches it).
    WorkProgress(QWidget* window, const QString& title);
    ~WorkProgress();
    WorkProgress(const WorkProgress&) = delete;
    WorkProgress& operator=(const WorkProgress&) = delete;

    // Says how far the work is (`done` of `total`, any unit) and runs the events that wait,
    // at most every few tens of milliseconds; false once the work should stop.
    bool Step(const QString& label, std::int64_t done, std::int64_t total);
    // Runs `work`, which touches no widget, on a thread of its own while the events keep
    // running (the bar shows that something runs, not how far); returns when it is done. A
    // Cancel meanwhile sets `stop`, which the work reads, and stops the work at the next Step.
    void RunAside(const QString& label, const std::function<void()>& work, std::atomic<bool>& stop);
    // Stops the work at its next Step, as the dialog's Cancel button does.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }

  private:
    QWidget* window_;
    QString title_;
    std::unique_ptr<QProgressDialog> dialog_;  // made once the work has run kShowAfterMs
    QElapsedTimer clock_, since_events_;
    bool cancelled_ = false;
    bool was_enabled_ = true;
};

// "1.5 of 1024.0 MiB" ("12 of 160 KiB" below a MiB): bytes as a progress label shows them.
QString ByteCount(std::int64_t done, std::int64_t total);

}  // namespace fits::ui
