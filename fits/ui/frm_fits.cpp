#include "fits/ui/frm_fits.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <type_traits>
#include <variant>

#include "fits/automation/safe_file.h"
#include "fits/convert/fits_writer.h"
#include "fits/convert/standard_header.h"
#include "fits/header/header_check.h"
#include "fits/input/fits_display.h"
#include "fits/input/header_reader.h"
#include "fits/ui/acquisition_progress.h"
#include "fits/ui/paths.h"
#include "fits/ui/science_menu.h"
#include "fits/ui/up_down.h"
#include "fits/ui/work_progress.h"
#include "project_version.h"

namespace fits::ui {
namespace {

constexpr int kClientWidth = 9615, kClientHeight = 5685;  // twips
const char kConvertFilter[] = "Orlix Files (*.spe)|*.spe|All Files (*.*)|*.*";
const char kHeaderFileFilter[] =
    "FITS Files (*.fit)|*.fit|Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
// The first entry is the one the dialog starts with.
const char kDisplayFilter[] =
    "FITS Files (*.fit)|*.fit|FITS Files (*.fit *.fits *.fts *.fz)|*.fit;*.fits;*.fts;*.fz|"
    "All Files (*.*)|*.*";
constexpr std::uint32_t kConvertFlags = 0x281204, kSaveFlags = 0x200806;
constexpr std::uint32_t kOpenOneFlags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_LONGNAMES;
// The system scroll-bar colour, the background of the read-only boxes.
const QColor kScrollBarGrey(0xC8, 0xC8, 0xC8);
// The line the navigator names, marked in the header box.
const QColor kChosenLine(0xFF, 0xF0, 0xA0);
// The caption font: the largest size from kCaptionPoints down to kSmallestCaptionPoints at
// which every caption fits the box the layout gives it.
const char kCaptionFamily[] = "Liberation Sans";
constexpr double kCaptionPoints = 8.0, kSmallestCaptionPoints = 6.0, kCaptionStep = 0.25;

// A text box that selects its whole text whenever it gets the focus, by keyboard or mouse.
class SelectAllLineEdit : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;
    std::function<void()> got_focus;

  protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        if (got_focus) got_focus();
    }
};

// The header text as the box shows it: one block per line; a lone CR or LF inside a line
// shows as a blank so that blocks and lines stay one to one.
QString DisplayText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            shown += '\n';
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            shown += ' ';
        } else {
            shown += text[i];
        }
    }
    return QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
}

// Shows a text in a read-only box from its start, so that a long value shows its beginning.
void ShowFromStart(QLineEdit* box, const std::string& text) {
    box->setText(QString::fromLatin1(text.c_str()));
    box->setCursorPosition(0);
}

// The header source file as the format label shows it: the path without surrounding blanks.
std::string SourcePath(const QLineEdit* box) {
    return PathBytes(box->text().trimmed());
}

// Places a box over the middle of the window, wherever the window manager would put it.
// Moved once the box is shown, when its size is final.
void CentreOn(QMessageBox& box, const QWidget& window) {
    QTimer::singleShot(0, &box, [&box, &window] {
        const QPoint middle = window.frameGeometry().center();
        box.move(middle -
                 QPoint(box.frameGeometry().width() / 2, box.frameGeometry().height() / 2));
    });
}

}  // namespace

void SetBusy(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

BusyScope::BusyScope() {
    SetBusy(true);
}
BusyScope::~BusyScope() {
    SetBusy(false);
}

frmFITS::frmFITS(AutomationFactory& factory, std::unique_ptr<FileDialog> dialog, QWidget* parent)
    : QWidget(parent), factory_(factory), dialog_(std::move(dialog)) {
    setObjectName("frmFITS");
    // Files written with the metadata option name the program in their HISTORY.
    science_.writer = std::string("FITS ") + PROJECT_VERSION_TEXT;
    setWindowTitle("Orlix/32 - FITS File Converter");
    ask = [this](const std::string& question) {
        QMessageBox box(QMessageBox::Question, "FITS", QString::fromStdString(question),
                        QMessageBox::Yes | QMessageBox::No, this);
        CentreOn(box, *this);
        return box.exec() == QMessageBox::Yes;
    };
    show_message = [this](const std::string& text, const std::string& caption) {
        QMessageBox box(message_icon_, QString::fromStdString(caption),
                        QString::fromStdString(text), QMessageBox::Ok, this);
        box.setObjectName("messageBox");
        CentreOn(box, *this);
        box.exec();
    };
    CreateControls();
    FitCaptionFont();
    Form_Load();
    setAcceptDrops(true);  // SPE files dropped are converted, FITS files displayed
}

frmFITS::~frmFITS() = default;

void frmFITS::Place(QWidget* widget, int left, int top, int width, int height) {
    const double dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    auto px = [dpi](int twips) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); };
    // Each edge converts on its own, so that neighbours that touch in twips touch in pixels.
    widget->setGeometry(px(left), px(top), px(left + width) - px(left), px(top + height) - px(top));
}

namespace {

// Whether a control's caption, in its current font, fits the box the layout gave it.
bool CaptionFits(const QWidget* widget) {
    const QFontMetrics fm = widget->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return fm.horizontalAdvance(label->text()) <= label->contentsRect().width() &&
               fm.height() <= label->contentsRect().height();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text().isEmpty() || button->sizeHint().width() <= button->width();
    if (const auto* frame = qobject_cast<const QGroupBox*>(widget))
        return fm.horizontalAdvance(frame->title()) + 2 * fm.averageCharWidth() <= frame->width();
    return true;
}

}  // namespace

// The twips sizes were made for a narrower dialog font than Liberation Sans, which at 8
// points cuts "Keyword" and "Comment" off; the captions take the largest size that fits.
void frmFITS::FitCaptionFont() {
    QFont font(kCaptionFamily);
    for (double points = kCaptionPoints; points >= kSmallestCaptionPoints; points -= kCaptionStep) {
        font.setPointSizeF(points);
        setFont(font);
        const QList<QWidget*> controls = findChildren<QWidget*>();
        if (std::all_of(controls.begin(), controls.end(), CaptionFits)) return;
    }
}

namespace {

// How a control is made beyond its class: whether it sits in the header-format frame, and for
// a text box whether it selects its text on focus (the editor's entry boxes) or is read-only.
enum ControlTrait : unsigned { kPlain = 0, kInFrame = 1, kSelectAll = 2, kReadOnly = 4 };

// One control of the window: the member that holds it, its object name, its caption (null
// for the classes that take none) and its place in twips (inside the frame for the frame's
// members).
struct ControlLayout {
    std::variant<QPlainTextEdit * frmFITS::*, QGroupBox * frmFITS::*, QRadioButton * frmFITS::*,
                 QLineEdit * frmFITS::*, QLabel * frmFITS::*, QPushButton * frmFITS::*,
                 QComboBox * frmFITS::*, UpDown * frmFITS::*>
        member;
    const char* name;
    const char* caption;
    unsigned traits;
    int left, top, width, height;
};

// Makes a control of class T in `parent` with the caption and traits its row gives.
template <class T>
T* MakeControl(QWidget* parent, const ControlLayout& row) {
    if constexpr (std::is_same_v<T, QLineEdit>) {
        QLineEdit* box =
            (row.traits & kSelectAll) ? new SelectAllLineEdit(parent) : new QLineEdit(parent);
        box->setReadOnly((row.traits & kReadOnly) != 0);
        if (row.traits & kReadOnly) {
            QPalette p = box->palette();
            p.setColor(QPalette::Base, kScrollBarGrey);
            box->setPalette(p);
        }
        return box;
    } else if constexpr (std::is_constructible_v<T, QString, QWidget*>) {
        return row.caption ? new T(row.caption, parent) : new T(parent);
    } else {
        return new T(parent);
    }
}

}  // namespace

void frmFITS::CreateControls() {
    // In the order of creation, which is the focus chain before the tab order is set.
    static const ControlLayout kControls[] = {
        {&frmFITS::txtHeader, "txtHeader", nullptr, kPlain, 240, 240, 9135, 2655},
        {&frmFITS::fraFormat, "fraFormat", "FITS Header Format", kPlain, 240, 3000, 5055, 975},
        {&frmFITS::optStandard, "optStandard", "Standard", kInFrame, 120, 240, 975, 255},
        {&frmFITS::optCustom, "optCustom", "Custom", kInFrame, 4080, 240, 855, 255},
        {&frmFITS::txtAddFile, "txtAddFile", nullptr, kInFrame, 1200, 240, 2775, 315},
        {&frmFITS::lblFormat, "lblFormat", "", kInFrame, 120, 675, 4815, 225},
        {&frmFITS::cmdRun, "cmdRun", "Run Experiment", kPlain, 5400, 3120, 1935, 375},
        {&frmFITS::cmdConvert, "cmdConvert", "Convert SPE File(s)...", kPlain, 5400, 3480, 1935,
         375},
        {&frmFITS::cmdDisplay, "cmdDisplay", "Display FITS File...", kPlain, 7440, 3120, 1935, 375},
        {&frmFITS::cmdSaveFile, "cmdSaveFile", "Save Header to File...", kPlain, 7440, 3480, 1935,
         375},
        {&frmFITS::lblKeyword, "lblKeyword", "Keyword", kPlain, 240, 4080, 615, 195},
        {&frmFITS::lblValue, "lblValue", "Value", kPlain, 1200, 4080, 405, 195},
        {&frmFITS::lblComment, "lblComment", "Comment", kPlain, 2520, 4080, 660, 195},
        {&frmFITS::lblType, "lblType", "Value Type", kPlain, 4200, 4080, 810, 195},
        {&frmFITS::txtKeywordAdd, "txtKeywordAdd", nullptr, kSelectAll, 240, 4320, 975, 315},
        {&frmFITS::txtValueAdd, "txtValueAdd", nullptr, kSelectAll, 1200, 4320, 1335, 315},
        {&frmFITS::txtCommentAdd, "txtCommentAdd", nullptr, kSelectAll, 2520, 4320, 1695, 315},
        {&frmFITS::cboType, "cboType", nullptr, kPlain, 4200, 4320, 1095, 315},
        {&frmFITS::cmdAddLine, "cmdAddLine", "Add Line", kPlain, 5400, 4320, 1935, 375},
        {&frmFITS::cmdAddPrimary, "cmdAddPrimary", "Add Primary Data", kPlain, 7440, 4320, 1935,
         375},
        {&frmFITS::txtKeywordRemove, "txtKeywordRemove", nullptr, kReadOnly, 240, 4680, 975, 315},
        {&frmFITS::txtValueRemove, "txtValueRemove", nullptr, kReadOnly, 1200, 4680, 1335, 315},
        {&frmFITS::txtCommentRemove, "txtCommentRemove", nullptr, kReadOnly, 2520, 4680, 1695, 315},
        {&frmFITS::txtHeaderLine, "txtHeaderLine", nullptr, kReadOnly, 4200, 4680, 855, 315},
        {&frmFITS::updHeaderLine, "updHeaderLine", nullptr, kPlain, 5055, 4680, 240, 315},
        {&frmFITS::cmdRemoveLine, "cmdRemoveLine", "Remove Line", kPlain, 5400, 4680, 1935, 375},
        {&frmFITS::cmdAddOrlix, "cmdAddOrlix", "Add Orlix/32 Data", kPlain, 7440, 4680, 1935, 375},
        {&frmFITS::cmdClear, "cmdClear", "Clear Header", kPlain, 5400, 5040, 1935, 375},
        {&frmFITS::cmdAddFile, "cmdAddFile", "Add FITS File Header...", kPlain, 7440, 5040, 1935,
         375},
        // Beyond the layout's controls: what the last command wrote, in the band below them.
        {&frmFITS::lblStatus, "lblStatus", "", kPlain, 240, 5430, 9135, 225},
    };
    for (const ControlLayout& row : kControls) {
        QWidget* parent = (row.traits & kInFrame) ? static_cast<QWidget*>(fraFormat) : this;
        QWidget* control = std::visit(
            [&](auto member) -> QWidget* {
                using Class =
                    std::remove_pointer_t<std::remove_reference_t<decltype(this->*member)>>;
                return this->*member = MakeControl<Class>(parent, row);
            },
            row.member);
        control->setObjectName(row.name);
        Place(control, row.left, row.top, row.width, row.height);
    }
    cmdRemoveLine->setEnabled(false);
    QWidget client;
    Place(&client, 0, 0, kClientWidth, kClientHeight);
    // The default size is the smallest; a larger window gives the header box the room.
    base_size_ = client.size();
    setMinimumSize(base_size_);
    resize(base_size_);
    for (QObject* child : children())
        if (auto* w = qobject_cast<QWidget*>(child)) base_geometry_[w] = w->geometry();

    SetUpHeaderBox();
    SetTabOrder();
    ConnectControls();
}

// The header box: read-only, but with a visible caret that the keyboard moves; no wrapping,
// both scroll bars always shown, and the window sees its clicks and keys.
void frmFITS::SetUpHeaderBox() {
    txtHeader->setReadOnly(true);
    txtHeader->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtHeader->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtHeader->setTabChangesFocus(true);  // Tab leaves the box, as in every other control
    txtHeader->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtHeader->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont courier("Courier New", 9);
    courier.setStyleHint(QFont::Monospace);
    txtHeader->setFont(courier);
    QPalette hp = txtHeader->palette();
    hp.setColor(QPalette::Base, kScrollBarGrey);
    txtHeader->setPalette(hp);
    txtHeader->installEventFilter(this);
    txtHeader->viewport()->installEventFilter(this);
}

void frmFITS::SetTabOrder() {
    QWidget* order[] = {txtHeader,     optStandard,      txtAddFile,     optCustom,
                        cmdRun,        cmdConvert,       cmdDisplay,     cmdSaveFile,
                        txtKeywordAdd, txtValueAdd,      txtCommentAdd,  cboType,
                        cmdAddLine,    txtKeywordRemove, txtValueRemove, txtCommentRemove,
                        txtHeaderLine, updHeaderLine,    cmdRemoveLine,  cmdClear,
                        cmdAddPrimary, cmdAddOrlix,      cmdAddFile};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

// Connects every control to its handler, and Ctrl+Z to the header's undo.
void frmFITS::ConnectControls() {
    for (QLineEdit* e : {txtKeywordAdd, txtValueAdd, txtCommentAdd}) {
        static_cast<SelectAllLineEdit*>(e)->got_focus = [e] {
            // Deferred: a mouse click would otherwise place the caret after the selection.
            QTimer::singleShot(0, e,
                               [e] { e->setSelection(0, static_cast<int>(e->text().size())); });
        };
    }
    connect(optStandard, &QRadioButton::clicked, this, [this] { optStandard_Click(); });
    AttachScienceMenu(optStandard, science_);
    connect(optCustom, &QRadioButton::clicked, this, [this] { optCustom_Click(); });
    connect(txtAddFile, &QLineEdit::textChanged, this, [this] { txtAddFile_Change(); });
    connect(updHeaderLine, &UpDown::Changed, this, [this] { updHeaderLine_Change(); });
    const std::pair<QPushButton*, void (frmFITS::*)()> clicks[] = {
        {cmdAddLine, &frmFITS::cmdAddLine_Click},   {cmdRemoveLine, &frmFITS::cmdRemoveLine_Click},
        {cmdClear, &frmFITS::cmdClear_Click},       {cmdAddPrimary, &frmFITS::cmdAddPrimary_Click},
        {cmdAddOrlix, &frmFITS::cmdAddOrlix_Click}, {cmdConvert, &frmFITS::cmdConvert_Click},
        {cmdRun, &frmFITS::cmdRun_Click},           {cmdSaveFile, &frmFITS::cmdSaveFile_Click},
        {cmdAddFile, &frmFITS::cmdAddFile_Click},   {cmdDisplay, &frmFITS::cmdDisplay_Click},
    };
    for (const auto& [b, handler] : clicks)
        connect(b, &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    undo->setObjectName("undoHeader");
    connect(undo, &QShortcut::activated, this, [this] { Undo(); });
    auto* redo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    redo->setObjectName("redoHeader");
    connect(redo, &QShortcut::activated, this, [this] { Redo(); });
    // The Standard choices in effect show in the caption beside the option.
    for (QAction* action : optStandard->actions())
        connect(action, &QAction::toggled, this, [this] { txtAddFile_Change(); });
}

void frmFITS::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int dw = std::max(0, width() - base_size_.width());
    const int dh = std::max(0, height() - base_size_.height());
    for (const auto& [w, g] : base_geometry_) {
        if (w == txtHeader)
            w->setGeometry(g.adjusted(0, 0, dw, dh));
        else if (w == lblStatus)
            w->setGeometry(g.translated(0, dh).adjusted(0, 0, dw, 0));
        else
            w->setGeometry(g.translated(0, dh));
    }
}

bool frmFITS::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtHeader->viewport() && event->type() == QEvent::MouseButtonRelease)
        txtHeader_Click();
    if (watched == txtHeader && event->type() == QEvent::KeyPress) {
        // Let the box move the caret first, as the key-down event sees it moved.
        QTimer::singleShot(0, this, [this] { txtHeader_KeyDown(); });
    }
    if (watched == txtHeader && event->type() == QEvent::KeyRelease) txtHeader_KeyUp();
    return QWidget::eventFilter(watched, event);
}

// ---- Header store ----------------------------------------------------------------------

void frmFITS::ReplaceText(const std::string& text) {
    text_ = text;
    txtHeader->setPlainText(DisplayText(text));
    QTextCursor cursor = txtHeader->textCursor();
    cursor.setPosition(0);
    txtHeader->setTextCursor(cursor);
    txtHeader->horizontalScrollBar()->setValue(0);  // a long card shown before stays out of view
}

Pos frmFITS::SelectionStart() const {
    QTextCursor cursor = txtHeader->textCursor();
    const int start = cursor.selectionStart();
    QTextBlock block = txtHeader->document()->findBlock(start);
    // Offset of the block's line in the text: behind the (blockNumber)-th line end.
    std::size_t offset = 0;
    for (int b = 0; b < block.blockNumber(); ++b) {
        auto end = text_.find(kLineEnd, offset);
        if (end == std::string::npos) return static_cast<Pos>(text_.size());
        offset = end + 2;
    }
    return static_cast<Pos>(offset) + (start - block.position());
}

Pos frmFITS::NavigatorValue() const {
    return updHeaderLine->Value();
}

void frmFITS::SetNavigatorValue(Pos value) {
    int before = updHeaderLine->Value();
    updHeaderLine->SetValue(static_cast<int>(std::min<Pos>(value, INT32_MAX)));
    // A caret move to the line already shown refreshes it all the same.
    if (updHeaderLine->Value() == before) updHeaderLine_Change();
}

// One step past the last card: the place where Add Line appends ("End").
void frmFITS::SetNavigatorMaximum(Pos maximum) {
    const Pos past = text_.empty() ? maximum : maximum + 1;
    updHeaderLine->SetMaximum(static_cast<int>(std::min<Pos>(past, INT32_MAX)));
}

void frmFITS::MessageBox(const std::string& text, const std::string& caption) {
    show_message(text, caption);
}

HeaderContext frmFITS::Context() {
    return HeaderContext{*this, factory_, today};
}

// ---- Window and format ------------------------------------------------------------------

void frmFITS::Form_Load() {
    cboType->clear();
    cboType->addItems({"None", "Logical", "String", "Integer", "Floating"});
    cboType->setCurrentIndex(0);
    optStandard->setChecked(true);
    optStandard_Click();
    ShowHeaderFormat(optStandard->isChecked());
}

void frmFITS::SetInputColour(QWidget* widget, bool enabled) {
    QPalette p = widget->palette();
    const QPalette system = QApplication::palette();
    p.setColor(QPalette::Base,
               enabled ? system.color(QPalette::Base) : system.color(QPalette::Button));
    widget->setPalette(p);
}

void frmFITS::ShowHeaderFormat(bool standard) {
    QString caption;
    if (standard) {
        txtAddFile->setEnabled(true);
        SetInputColour(txtAddFile, true);
        caption = "Primary Data + Orlix/32 Data";
        // The choices of the option's context menu in effect, after the path.
        QStringList chosen;
        const std::pair<bool, const char*> choices[] = {{science_.metadata, "metadata"},
                                                        {science_.bzero, "BZERO"},
                                                        {science_.regions, "regions"},
                                                        {science_.compress, "compressed"}};
        for (const auto& [on, word] : choices)
            if (on) chosen << word;
        const QString tail = chosen.isEmpty() ? QString() : "; " + chosen.join(", ");
        const QString path = txtAddFile->text().trimmed();
        if (!path.isEmpty()) {
            // A long path is cut in its middle, so that the file's name stays in view; the
            // tooltip shows it whole.
            const QString lead = caption + " + ";
            const int room = lblFormat->contentsRect().width() -
                             lblFormat->fontMetrics().horizontalAdvance(lead + tail);
            caption = lead +
                      lblFormat->fontMetrics().elidedText(path, Qt::ElideMiddle, std::max(room, 0));
        }
        caption += tail;
        lblFormat->setToolTip(path);
    } else {
        txtAddFile->setEnabled(false);
        SetInputColour(txtAddFile, false);
        caption = "Use header shown above";
        lblFormat->setToolTip({});
    }
    EnableEditor(!standard);
    lblFormat->setText(caption);
}

void frmFITS::optStandard_Click() {
    ShowHeaderFormat(true);
}
void frmFITS::optCustom_Click() {
    ShowHeaderFormat(false);
}
void frmFITS::txtAddFile_Change() {
    ShowHeaderFormat(optStandard->isChecked());
}

// ---- Editor panel -----------------------------------------------------------------------

void frmFITS::EnableEditor(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{txtKeywordAdd, txtValueAdd, txtCommentAdd,
                                                      cboType, cmdAddLine})
        w->setEnabled(enabled);
    for (QWidget* w :
         std::initializer_list<QWidget*>{txtKeywordAdd, txtValueAdd, txtCommentAdd, cboType})
        SetInputColour(w, enabled);
    for (QWidget* w : std::initializer_list<QWidget*>{
             txtKeywordRemove, txtValueRemove, txtCommentRemove, txtHeaderLine, updHeaderLine})
        w->setEnabled(enabled);
    cmdRemoveLine->setEnabled(enabled && !text_.empty());
    cmdClear->setEnabled(enabled && !text_.empty());
    cmdAddPrimary->setEnabled(enabled);
    cmdAddOrlix->setEnabled(enabled);
}

void frmFITS::txtHeader_Click() {
    SelectCaretLine(*this);
}
void frmFITS::txtHeader_KeyDown() {
    SelectCaretLine(*this);
}
void frmFITS::txtHeader_KeyUp() {
    SelectCaretLine(*this);
}

void frmFITS::updHeaderLine_Change() {
    const int n = updHeaderLine->Value();
    const std::string line = GetLine(text_, n);
    ShowFromStart(txtKeywordRemove, GetKeyword(line));
    ShowFromStart(txtValueRemove, GetValue(line));
    ShowFromStart(txtCommentRemove, GetComment(line));
    const bool past_end = !text_.empty() && n > CountRealLines(text_);
    txtHeaderLine->setText(past_end       ? QString("End")
                           : line.empty() ? QString()
                                          : QString("Line %1").arg(n));
    MarkChosenLine(line.empty() ? 0 : n);
    if (text_.empty()) {
        cmdRemoveLine->setEnabled(false);
        cmdClear->setEnabled(false);
    } else if (optCustom->isChecked()) {
        cmdRemoveLine->setEnabled(!past_end);
        cmdClear->setEnabled(true);
    }
}

void frmFITS::MarkChosenLine(int n) {
    QList<QTextEdit::ExtraSelection> marks;
    const QTextBlock block = txtHeader->document()->findBlockByNumber(n - 1);
    if (n > 0 && block.isValid()) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(block);
        mark.format.setBackground(kChosenLine);
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks.append(mark);
        // Scroll the line into view without moving the caret, which Add Line relies on.
        QScrollBar* bar = txtHeader->verticalScrollBar();
        const int first = bar->value(), shown = std::max(1, bar->pageStep());
        if (n - 1 < first)
            bar->setValue(n - 1);
        else if (n - 1 >= first + shown)
            bar->setValue(n - shown);
    }
    txtHeader->setExtraSelections(marks);
}

// Adds the card where the Part places it, unless it holds what a card cannot hold or breaks
// the mandatory order; says what the card does not keep of what was typed.
void frmFITS::cmdAddLine_Click() {
    Pos n = updHeaderLine->Value();
    std::string text = text_;
    const bool past_end = !text.empty() && n > CountRealLines(text);
    const bool appended = SelectionStart() == static_cast<Pos>(text.size()) || past_end;
    if (appended) n = -1;
    // UTF-8: a character beyond ASCII is refused, so what is built is what was typed.
    const std::string keyword = txtKeywordAdd->text().toStdString();
    const std::string value = txtValueAdd->text().toStdString();
    const std::string comment = txtCommentAdd->text().toStdString();
    const auto type = static_cast<ValueType>(cboType->currentIndex());
    InsertCard(text, keyword, value, type, comment, n);
    const CardReview review = ReviewNewCard(text_, text, BuildCard(keyword, value, type, comment),
                                            keyword, value, type, comment);
    if (!review.refused.empty()) {
        ShowMessage(QMessageBox::Warning,
                    "Add Line:\n\n" + review.refused + ".\n\nNo line was added." +
                        (appended ? ""
                                  : " The line goes before the line the navigator shows; to "
                                    "append it, step the navigator past the last line, to "
                                    "\"End\"."));
        return;
    }
    const std::string before = text_;
    SetHeaderText(*this, text);
    RememberForUndo(before);
    // Appending at "End" again appends after this line: the navigator stays past the last card.
    if (past_end) SetNavigatorValue(updHeaderLine->Maximum());
    if (review.notes.empty()) return;
    std::string said = "Add Line:\n\nThe line was added; ";
    for (std::size_t i = 0; i < review.notes.size(); ++i)
        said += (i > 0 ? "; " : "") + review.notes[i];
    ShowMessage(QMessageBox::Information, said.ends_with('.') ? said : said + ".");
}

void frmFITS::cmdRemoveLine_Click() {
    const std::string before = text_;
    std::string text = text_;
    RemoveLine(text, updHeaderLine->Value());
    SetHeaderText(*this, text);
    RememberForUndo(before);
}

void frmFITS::cmdClear_Click() {
    const std::string before = text_;
    SetHeaderText(*this, "");
    RememberForUndo(before);
}

// The cards added by Add Primary Data and Add Orlix/32 Data end the header: the navigator
// goes past them, so that Add Line appends next.
void frmFITS::cmdAddPrimary_Click() {
    const std::string before = text_;
    HeaderContext context = Context();
    AddPrimaryData(context, nullptr);
    RememberForUndo(before);
    SetNavigatorValue(updHeaderLine->Maximum());
}

void frmFITS::cmdAddOrlix_Click() {
    const std::string before = text_;
    HeaderContext context = Context();
    AddOrlixData(context, nullptr);
    RememberForUndo(before);
    SetNavigatorValue(updHeaderLine->Maximum());
}

void frmFITS::RememberForUndo(const std::string& before) {
    constexpr std::size_t kSteps = 100;
    if (before == text_) return;
    if (undo_.size() == kSteps) undo_.erase(undo_.begin());
    undo_.push_back(before);
    redo_.clear();  // a new change ends what can be redone
}

void frmFITS::Undo() {
    if (undo_.empty()) return;
    redo_.push_back(text_);
    SetHeaderText(*this, undo_.back());
    undo_.pop_back();
}

void frmFITS::Redo() {
    if (redo_.empty()) return;
    undo_.push_back(text_);
    SetHeaderText(*this, redo_.back());
    redo_.pop_back();
}

// ---- Commands ---------------------------------------------------------------------------

void frmFITS::ReportCommand(const std::string& command, const CommandReport& report,
                            std::size_t files) {
    std::string text;
    for (const auto& f : report.failures)
        text += f + "\n";
    for (const auto& w : warnings_)
        text += w + "\n";
    if (report.cancelled) {
        std::vector<std::string> left;
        for (const FileOutcome& f : report.files)
            if (f.kind == FileOutcome::Kind::kNotReached) left.push_back(ShownName(f.input));
        if (left.empty())
            text += "Stopped: the remaining files were not converted.\n";
        else if (left.size() == 1)
            text += "Stopped: " + left[0] + " was not converted.\n";
        else
            text += "Stopped: " + left[0] + " and the " + std::to_string(left.size() - 1) +
                    " files after it were not converted.\n";
    }
    warnings_.clear();
    if (!report.written.empty() && report.failures.empty() && !report.cancelled) {
        namespace fs = std::filesystem;
        const std::string folder = fs::path(report.written.front()).parent_path().string();
        const bool one_folder = std::all_of(
            report.written.begin(), report.written.end(),
            [&](const std::string& w) { return fs::path(w).parent_path().string() == folder; });
        const std::size_t n = report.written.size();
        SayDone((n == 1 ? "1 file" : std::to_string(n) + " files") + " converted into " +
                (one_folder ? ShownName(folder.empty() ? "." : folder) : "their folders"));
    }
    if (text.empty()) return;
    if (files > 1)
        text += "\nConverted " + std::to_string(report.written.size()) + " of " +
                std::to_string(files) + " files.\n";
    const bool failed = !report.failures.empty() || report.cancelled;
    ShowMessage(failed ? QMessageBox::Warning : QMessageBox::Information, command + ":\n\n" + text);
}

void frmFITS::SayDone(const std::string& text) {
    lblStatus->setText(QString::fromStdString(text));
    lblStatus->setToolTip(lblStatus->text());
}

void frmFITS::ShowMessage(QMessageBox::Icon icon, const std::string& text) {
    if (icon == QMessageBox::Warning) SayDone("");  // the status line never outlives a failure
    message_icon_ = icon;
    show_message(text, "FITS");
    message_icon_ = QMessageBox::Information;
}

void frmFITS::cmdConvert_Click() {
    dialog_->SetTitle("Convert SPE Files");
    if (!dialog_->ShowOpen(kConvertFilter, kConvertFlags)) {
        SetBusy(false);
        return;
    }
    BusyScope busy;
    const std::vector<std::string> paths = ListPickedFiles(*dialog_);
    if (paths.empty()) return;
    ConvertPaths(paths);
}

void frmFITS::ConvertPaths(const std::vector<std::string>& paths) {
    CommandReport report;
    {
        WorkProgress work(this, "Convert SPE File(s)");
        Running running(*this, work, "Convert SPE File(s)");
        ConvertOptions options{optStandard->isChecked(), SourcePath(txtAddFile), "", ""};
        options.compress = science_.compress;
        // The bar runs over all files, each file's share filled as its bytes are written.
        constexpr std::int64_t kShare = 1000;
        const auto all = static_cast<std::int64_t>(paths.size()) * kShare;
        options.writing = [&](std::size_t i, std::int64_t done, std::int64_t total) {
            const QString label = QString("Converting %1 (%2 of %3)...\n%4")
                                      .arg(QString::fromStdString(ShownName(
                                          std::filesystem::path(paths[i]).filename().string())))
                                      .arg(i + 1)
                                      .arg(paths.size())
                                      .arg(ByteCount(done, total));
            const std::int64_t share = total > 0 ? done * kShare / total : 0;
            return work.Step(label, static_cast<std::int64_t>(i) * kShare + share, all);
        };
        options.aside = [&](std::size_t i, const std::function<void()>& compress,
                            std::atomic<bool>& stop) {
            work.RunAside(QString("Compressing %1 (%2 of %3)...")
                              .arg(QString::fromStdString(
                                  ShownName(std::filesystem::path(paths[i]).filename().string())))
                              .arg(i + 1)
                              .arg(paths.size()),
                          compress, stop);
        };
        HeaderContext context = Context();
        report = ConvertFiles(
            context, *this, paths, options,
            [&](std::size_t done, std::size_t count) {
                return work.Step(QString("Converted %1 of %2 files").arg(done).arg(count),
                                 static_cast<std::int64_t>(done) * kShare, all);
            },
            science_);
    }
    if (CloseIfAsked()) return;
    ReportCommand("Convert SPE File(s)", report, paths.size());
}

void frmFITS::closeEvent(QCloseEvent* event) {
    if (!acquiring_ && !working_) return QWidget::closeEvent(event);
    event->ignore();
    const std::string question =
        acquiring_ ? "An acquisition is running (Run Experiment).\n\nCancel it and close the "
                     "window? Nothing of it will be written."
                   : working_command_ +
                         " is running.\n\nCancel it and close the window? The file it is "
                         "writing will not be kept.";
    if (ask(question)) {
        close_after_run_ = true;
        if (acquiring_) acquiring_->Cancel();
        if (working_) working_->Cancel();
    }
}

bool frmFITS::CloseIfAsked() {
    if (!close_after_run_) return false;
    warnings_.clear();
    QTimer::singleShot(0, this, [this] { close(); });
    return true;
}

void frmFITS::cmdRun_Click() {
    BusyScope busy;
    WatchedFactory watched(factory_, this);
    HeaderContext context{*this, watched};
    acquiring_ = &watched;
    CommandReport report =
        RunExperiment(context, *this, optStandard->isChecked(), SourcePath(txtAddFile), science_);
    acquiring_ = nullptr;
    if (CloseIfAsked()) return;
    if (watched.Cancelled()) {
        warnings_.clear();
        ShowMessage(QMessageBox::Information,
                    "Run Experiment:\n\nCancelled: nothing was acquired or written.");
        return;
    }
    if (!report.failures.empty() || report.written.empty()) {
        ReportCommand("Run Experiment", report);
        return;
    }
    std::string text = "Run Experiment:\n\nThe acquisition was saved to\n" + report.data_file +
                       "\nThe FITS file was written to\n";
    for (const auto& path : report.written)
        text += path + "\n";
    for (const auto& w : warnings_)
        text += w + "\n";
    warnings_.clear();
    ShowMessage(QMessageBox::Information, text);
}

void frmFITS::cmdSaveFile_Click() {
    dialog_->SetTitle("Save Header to File");
    if (!dialog_->ShowSave(kHeaderFileFilter, kSaveFlags)) {
        SetBusy(false);
        return;
    }
    BusyScope busy;
    std::string name = dialog_->FileName();
    if (name.empty()) return;
    // The chosen filter decides the form (1: FITS, 2: text, else by the name) and, for a name
    // typed without an extension, the extension.
    const int filter = dialog_->FilterIndex();
    const bool block = filter == 1 || (filter != 2 && IsFitsName(name));
    if (filter <= 2 && std::filesystem::path(name).extension().empty())
        name += filter == 1 ? ".fit" : ".txt";
    CommandReport report;
    if (Status s = SaveHeaderAs(text_, name, block); !s) report.failures.push_back(s.message());
    ReportCommand("Save Header to File", report);
    if (report.failures.empty()) SayDone("Header saved to " + ShownName(name));
}

std::string frmFITS::HeaderFileProblem(const std::string& name) {
    std::vector<std::string> ignored;
    auto cards = ReadHeaderTemplate(name, &ignored);
    if (!cards) return {};  // said by AppendFileHeader
    if (auto problem = FindHeaderProblem(*cards, HeaderCheck::kPartial))
        return DescribeProblem(ShownName(name), *problem);
    // The cards as they join the box: SIMPLE twice, or an order the box's cards break.
    std::string joined = text_;
    AppendHeaderText(joined, *cards);
    if (auto problem = FindHeaderProblem(joined, HeaderCheck::kPartial);
        problem && problem->line > CountRealLines(text_))
        return DescribeProblem("the header box with " + ShownName(name) + "'s cards", *problem);
    return {};
}

void frmFITS::cmdAddFile_Click() {
    dialog_->SetTitle("Add FITS File Header");
    if (!dialog_->ShowOpen(kHeaderFileFilter, kOpenOneFlags)) return;
    const std::string name = dialog_->FileName();
    if (name.empty()) return;
    if (optCustom->isChecked()) {
        // Cards FITS readers refuse are said now, as Add Line says them, not at Convert.
        if (std::string problem = HeaderFileProblem(name); !problem.empty()) {
            ShowMessage(QMessageBox::Warning, "Add FITS File Header:\n\n" + problem +
                                                  ".\n\nNo line of the file was added.");
            return;
        }
        CommandReport report;
        const std::string before = text_;
        auto left_out = AppendFileHeader(*this, name, &warnings_);
        RememberForUndo(before);
        if (!left_out)
            report.failures.push_back(left_out.message());
        else if (!left_out->empty())
            warnings_.push_back(LeftOutWarning(name, *left_out));
        ReportCommand("Add FITS File Header", report);
        SetNavigatorValue(updHeaderLine->Maximum());
    }
    txtAddFile->setText(PathText(name));
    ShowHeaderFormat(!optCustom->isChecked());
}

namespace {

std::filesystem::file_time_type ModifiedTime(const std::string& path) {
    std::error_code ec;
    return std::filesystem::last_write_time(path, ec);
}

}  // namespace

// A FITS file shown before and unchanged since: the application shows its document again,
// which brings that document's viewer forward instead of creating another copy.
bool frmFITS::ShowAgain(const std::string& fitsPath) {
    auto it = displayed_.find(fitsPath);
    if (it == displayed_.end()) return false;
    const auto& [document_path, modified] = it->second;
    if (ModifiedTime(fitsPath) != modified || !std::filesystem::exists(document_path)) {
        displayed_.erase(it);
        return false;
    }
    auto document = factory_.NewDataDocument();
    return document->Open(document_path, 0, 0, 0, 0, "") && document->Refresh();
}

void frmFITS::cmdDisplay_Click() {
    dialog_->SetTitle("Display FITS File");
    if (!dialog_->ShowOpen(kDisplayFilter, kOpenOneFlags)) return;
    const std::string name = dialog_->FileName();
    if (name.empty()) return;
    DisplayFile(name);
}

void frmFITS::OpenFiles(const std::vector<std::string>& paths) {
    std::vector<std::string> spe;
    for (const std::string& path : paths) {
        if (ToLower(std::filesystem::path(path).extension().string()) == ".spe")
            spe.push_back(path);
        else
            DisplayFile(path);
    }
    if (spe.empty()) return;
    BusyScope busy;
    ConvertPaths(spe);
}

void frmFITS::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) return event->acceptProposedAction();
}

void frmFITS::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(PathBytes(url.toLocalFile()));
    event->acceptProposedAction();
    // After the drop has ended: the file manager is not kept waiting for the conversion.
    QTimer::singleShot(0, this, [this, paths] { OpenFiles(paths); });
}

void frmFITS::DisplayFile(const std::string& name) {
    BusyScope busy;
    // The box shows the displayed file's header: one step of its undo, and nothing changed
    // when nothing is displayed.
    const std::string before = text_;
    ReplaceText("");
    CommandReport report;
    bool cancelled = false;
    // A compressed image's own header, as for a plain file; not its storage's.
    auto shown = ReadDisplayedHeader(name);
    if (shown) AppendHeaderSource(*this, {name, std::move(*shown)});
    if (!shown) {
        report.failures.push_back(shown.message());
    } else if (!ShowAgain(name)) {
        std::string document;
        Status s;
        bool reusable = true;
        {
            WorkProgress work(this, "Display FITS File");
            Running running(*this, work, "Display FITS File");
            const QString label =
                "Displaying " +
                QString::fromStdString(ShownName(std::filesystem::path(name).filename().string())) +
                "...\n";
            s = DisplayFitsFile(
                factory_, name, &document,
                [&](std::int64_t done, std::int64_t total) {
                    return work.Step(label + ByteCount(done, total), done, total);
                },
                &warnings_, &reusable);
            cancelled = work.Cancelled();
        }
        if (cancelled) {
            // Nothing was displayed, and the document begun is gone.
        } else if (!s) {
            report.failures.push_back(s.message());
        } else {
            if (reusable) displayed_[name] = {document, ModifiedTime(name)};
            SayDone(ShownName(name) + " displayed as " + ShownName(document));
            namespace fs = std::filesystem;
            if (fs::absolute(document).parent_path() != fs::absolute(name).parent_path())
                warnings_.push_back(ShownName(name) +
                                    ": its folder cannot take the display document; it is " +
                                    ShownName(document));
        }
    }
    if (report.failures.empty() && !cancelled)
        RememberForUndo(before);
    else
        SetHeaderText(*this, before);
    if (CloseIfAsked()) return;
    if (cancelled) {
        warnings_.clear();
        return ShowMessage(QMessageBox::Information,
                           "Display FITS File:\n\nCancelled: nothing was displayed.");
    }
    ReportCommand("Display FITS File", report);
}

}  // namespace fits::ui
