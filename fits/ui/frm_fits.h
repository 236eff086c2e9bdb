// The converter's one window, "Orlix/32 - FITS File Converter": the header box with the
// header editor below it, the header-format frame and the command buttons. The window is
// the header store: the header text is the text of txtHeader.
#pragma once

#include <QMessageBox>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "fits/automation/automation.h"
#include "fits/convert/commands.h"
#include "fits/header/header_text.h"
#include "fits/ui/acquisition_progress.h"
#include "fits/ui/file_dialog.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace fits::ui {

class UpDown;
class WorkProgress;

// Turns the busy pointer on for its lifetime: on at construction, off on every way out.
class BusyScope {
  public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};
void SetBusy(bool busy);

class frmFITS : public QWidget, public HeaderStore, public Reporter {
    Q_OBJECT
  public:
    frmFITS(AutomationFactory& factory, std::unique_ptr<FileDialog> dialog,
            QWidget* parent = nullptr);
    ~frmFITS() override;

    // Shows a message box (text, caption) as MessageBox does; a seam so tests see messages without
    // a modal box.
    std::function<void(const std::string&, const std::string&)> show_message;
    // Asks a yes-or-no question (the answer true for yes); a seam as show_message is.
    std::function<bool(const std::string&)> ask;
    // Today's date for the header's DATE-OBS and DATE cards; a seam for tests.
    std::function<std::string()> today = TodayIsoDate;

    // HeaderStore
    std::string Text() const override { return text_; }
    void ReplaceText(const std::string& text) override;
    Pos SelectionStart() const override;
    Pos NavigatorValue() const override;
    void SetNavigatorValue(Pos value) override;
    void SetNavigatorMaximum(Pos maximum) override;
    void NavigatorChanged() override { updHeaderLine_Change(); }

    // Reporter
    void MessageBox(const std::string& text, const std::string& caption) override;
    void Warning(const std::string& text) override { warnings_.push_back(text); }

    // Handlers, named after the control and the event.
    void Form_Load();
    void optStandard_Click();
    void optCustom_Click();
    void txtAddFile_Change();
    void txtHeader_Click();
    void txtHeader_KeyDown();
    void txtHeader_KeyUp();
    void updHeaderLine_Change();
    void cmdAddLine_Click();
    void cmdRemoveLine_Click();
    void cmdClear_Click();
    void cmdAddPrimary_Click();
    void cmdAddOrlix_Click();
    void cmdConvert_Click();
    void cmdRun_Click();
    void cmdSaveFile_Click();
    void cmdAddFile_Click();
    void cmdDisplay_Click();

    // Display FITS File... for a file already chosen (a file the desktop opens with the
    // program, a FITS file dropped on the window).
    void DisplayFile(const std::string& path);
    // Files given from outside (the command line, a drop): SPE files are converted as Convert
    // SPE File(s)... converts them, the others displayed.
    void OpenFiles(const std::vector<std::string>& paths);

    void ShowHeaderFormat(bool standard);
    void EnableEditor(bool enabled);

    FileDialog& dlgFileName() { return *dialog_; }
    // The choices beyond the Standard header, set from the "Standard" option's context menu.
    const ScienceOptions& Science() const { return science_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Beyond the default size the header box takes the room; the other controls keep their
    // sizes and their places below and beside it.
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Closing while Run Experiment acquires, or while Convert or Display works, asks whether
    // to cancel the command; yes cancels it and closes the window when the command has ended.
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    void SetUpHeaderBox();
    void SetTabOrder();
    void ConnectControls();
    void FitCaptionFont();
    // Highlights line n (from 1; 0 for none) in the header box and scrolls it into view.
    void MarkChosenLine(int n);
    bool ShowAgain(const std::string& fitsPath);
    void Place(QWidget* widget, int left, int top, int width, int height);
    void SetInputColour(QWidget* widget, bool enabled);
    // Shows one message box listing what the command met, then forgets it; a batch of
    // `files` also says how many were converted. Failures carry the warning icon.
    void ReportCommand(const std::string& command, const CommandReport& report,
                       std::size_t files = 0);
    void ShowMessage(QMessageBox::Icon icon, const std::string& text);
    HeaderContext Context();
    // The header box's undo: `before` becomes the step Ctrl+Z brings back (when the text has
    // changed since); Undo brings back the last step.
    void RememberForUndo(const std::string& before);
    void ConvertPaths(const std::vector<std::string>& paths);
    void Undo();
    void Redo();
    // Says in the status line what a command wrote; a box is kept for failures.
    void SayDone(const std::string& text);
    // Add FITS File Header in Custom mode: why the file's cards cannot join the header box
    // (the line and the reason), or "" when they can.
    std::string HeaderFileProblem(const std::string& name);
    // After a command that ran with progress: when a close was asked meanwhile, the window
    // closes (and nothing more is said); true then.
    bool CloseIfAsked();

    // Marks a command that runs with progress for its lifetime, so that a close asks first.
    struct Running {
        Running(frmFITS& w, WorkProgress& work, std::string command) : window(w) {
            window.working_ = &work;
            window.working_command_ = std::move(command);
        }
        ~Running() { window.working_ = nullptr; }
        frmFITS& window;
    };

    AutomationFactory& factory_;
    std::unique_ptr<FileDialog> dialog_;
    std::string text_;
    std::vector<std::string> warnings_;
    std::vector<std::string> undo_;            // earlier header texts, the last one first back
    std::vector<std::string> redo_;            // texts undone, the last one undone first back
    std::map<QWidget*, QRect> base_geometry_;  // each top-level control at the default size
    QSize base_size_;
    WatchedFactory* acquiring_ = nullptr;  // Run Experiment's, while it runs
    WorkProgress* working_ = nullptr;      // Display's or Convert's, while it runs
    std::string working_command_;
    bool close_after_run_ = false;
    // The icon of the next message box: a warning when something failed.
    QMessageBox::Icon message_icon_ = QMessageBox::Information;
    ScienceOptions science_;
    // FITS files shown this session: the document made for each, and the FITS file's time.
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> displayed_;

    QPlainTextEdit* txtHeader = nullptr;
    QGroupBox* fraFormat = nullptr;
    QRadioButton* optStandard = nullptr;
    QRadioButton* optCustom = nullptr;
    QLineEdit* txtAddFile = nullptr;
    QLabel* lblFormat = nullptr;
    QPushButton *cmdRun = nullptr, *cmdConvert = nullptr, *cmdDisplay = nullptr,
                *cmdSaveFile = nullptr;
    QLabel *lblKeyword = nullptr, *lblValue = nullptr, *lblComment = nullptr, *lblType = nullptr;
    QLineEdit *txtKeywordAdd = nullptr, *txtValueAdd = nullptr, *txtCommentAdd = nullptr;
    QComboBox* cboType = nullptr;
    QPushButton *cmdAddLine = nullptr, *cmdAddPrimary = nullptr, *cmdRemoveLine = nullptr,
                *cmdAddOrlix = nullptr, *cmdClear = nullptr, *cmdAddFile = nullptr;
    QLineEdit *txtKeywordRemove = nullptr, *txtValueRemove = nullptr, *txtCommentRemove = nullptr,
              *txtHeaderLine = nullptr;
    UpDown* updHeaderLine = nullptr;
    QLabel* lblStatus = nullptr;
};

}  // namespace fits::ui
