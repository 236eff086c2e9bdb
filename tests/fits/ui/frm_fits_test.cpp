// The converter window under QTest: real widgets found by object name, real key and mouse
// events, files chosen through the dialog seam, the embedded acquisition application.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>

#include "../../orlix/test_support.h"
#include "fits/header/card.h"
#include "fits/header/header_text.h"
#include "fits/ui/frm_fits.h"
#include "fits/ui/up_down.h"
#include "fits/ui/work_progress.h"
#include "orlix/application.h"
#include "orlix/spe_file.h"
#include "orlix/viewer/document_viewer.h"
#include "project_version.h"

using namespace fits;
using namespace fits::ui;

namespace {

// Returns the file-name results the test queues; "" is a cancel, a missing entry a failure.
class ScriptedDialog : public FileDialog {
  public:
    std::deque<std::string> results;
    std::deque<int> filters;  // the filter chosen with each result (from 1); none: the first
    std::vector<std::pair<std::string, std::uint32_t>> shown;
    bool ShowOpen(const std::string& filter, std::uint32_t flags) override {
        return Next(filter, flags);
    }
    bool ShowSave(const std::string& filter, std::uint32_t flags) override {
        return Next(filter, flags);
    }

  private:
    bool Next(const std::string& filter, std::uint32_t flags) {
        shown.emplace_back(filter, flags);
        if (results.empty()) return false;
        file_name_ = results.front();
        results.pop_front();
        filter_index_ = filters.empty() ? 1 : filters.front();
        if (!filters.empty()) filters.pop_front();
        return true;
    }
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Whether a text holds two full stops in a row that are not part of an ellipsis "...".
bool HasDoubleStop(const std::string& text) {
    for (std::size_t at = text.find(".."); at != std::string::npos; at = text.find("..", at + 1))
        if ((at == 0 || text[at - 1] != '.') && text[at + 2] != '.') return true;
    return false;
}

// A message box the window showed, as the user saw it, answered by clicking OK.
struct SeenBox {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    QPoint centre;  // of the box on the screen
};

// Polls for the window's message boxes while `action` runs and clicks their OK button.
std::vector<SeenBox> AnswerBoxes(const std::function<void()>& action) {
    std::vector<SeenBox> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                seen.push_back({box->icon(), box->text(), box->frameGeometry().center()});
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            }
    });
    poll.start(20);
    action();
    return seen;
}

// Counts the paint events of the widgets it filters: a window that keeps painting.
struct PaintCounter : QObject {
    int& count;
    explicit PaintCounter(int& c) : count(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++count;
        return false;
    }
};

// The embedded application with its documents slowed down: opening one takes `open_ms`,
// storing a frame `put_ms`, so that small files keep a command busy for seconds.
struct SlowFactory : AutomationFactory {
    struct Document : DataDocument {
        std::unique_ptr<DataDocument> inner;
        int open_ms = 0, put_ms = 0;
        std::function<void()> on_open;
        Variant GetParam(std::int32_t n) override { return inner->GetParam(n); }
        Status Open(const std::string& a, std::int32_t b, std::int32_t c, std::int32_t d,
                    std::int32_t e, const std::string& f) override {
            QTest::qSleep(open_ms);
            if (on_open) on_open();
            return inner->Open(a, b, c, d, e, f);
        }
        Status Refresh() override { return inner->Refresh(); }
        Status GetFrame(std::int64_t n, Frame& frame) override { return inner->GetFrame(n, frame); }
        Status PutFrame(std::int64_t n, const Frame& frame) override {
            QTest::qSleep(put_ms);
            return inner->PutFrame(n, frame);
        }
        Status Finalize() override { return inner->Finalize(); }
        Status Close() override { return inner->Close(); }
    };
    orlix::Application& app;
    int open_ms, put_ms;
    std::function<void()> on_open;  // called as each document is opened, after its wait
    SlowFactory(orlix::Application& a, int open, int put) : app(a), open_ms(open), put_ms(put) {}
    std::unique_ptr<DataDocument> NewDataDocument() override {
        auto d = std::make_unique<Document>();
        d->inner = app.NewDataDocument();
        d->open_ms = open_ms, d->put_ms = put_ms;
        d->on_open = on_open;
        return d;
    }
    std::unique_ptr<Experiment> NewExperiment() override { return app.NewExperiment(); }
    std::string DataFolder() override { return app.DataFolder(); }
};

}  // namespace

class FrmFitsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TempDir> dir_;
    std::unique_ptr<orlix::Application> app_;
    std::unique_ptr<frmFITS> window_;
    ScriptedDialog* dialog_ = nullptr;
    std::vector<std::string> messages_;
    // The first cards of an 8-bit primary header, up to NAXIS.
    const std::string kPrimary8 =
        "SIMPLE  =                    T\r\nBITPIX  =                    8\r\n";

    template <class T>
    T* W(const char* name) {
        T* w = window_->findChild<T*>(name);
        if (!w) qFatal("no control %s", name);
        return w;
    }
    QPlainTextEdit* Header() { return W<QPlainTextEdit>("txtHeader"); }
    std::string Text() { return window_->Text(); }
    void Click(const char* name) { QTest::mouseClick(W<QPushButton>(name), Qt::LeftButton); }
    // Copies a sample into the test folder as NAME.spe and converts it with Convert SPE File(s).
    void ConvertSample(const char* sample, const std::string& name) {
        std::filesystem::copy_file(testing_support::Sample(sample), *dir_ / (name + ".spe"));
        dialog_->results.push_back(*dir_ / (name + ".spe"));
        Click("cmdConvert");
    }
    void Type(const char* name, const QString& text) {
        auto* e = W<QLineEdit>(name);
        e->setFocus();
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Delete);
        for (QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClicks(e, QString(c));
                continue;
            }
            // A letter beyond ASCII arrives as a key event carrying its text, as from a
            // keyboard layout that has it.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(e, &press);
            QApplication::sendEvent(e, &release);
        }
    }
    void Custom() {
        QTest::mouseClick(W<QRadioButton>("optCustom"), Qt::LeftButton, {}, QPoint(5, 5));
    }
    void Standard() {
        QTest::mouseClick(W<QRadioButton>("optStandard"), Qt::LeftButton, {}, QPoint(5, 5));
    }

  private slots:
    void init() {
        dir_ = std::make_unique<testing_support::TempDir>();
        app_ = std::make_unique<orlix::Application>();
        auto dialog = std::make_unique<ScriptedDialog>();
        dialog_ = dialog.get();
        window_ = std::make_unique<frmFITS>(*app_, std::move(dialog));
        messages_.clear();
        window_->show_message = [this](const std::string& text, const std::string& caption) {
            messages_.push_back(caption + ": " + text);
        };
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
    void cleanup() {
        window_.reset();
        app_.reset();
        dir_.reset();
    }

    void startUpState() {
        QCOMPARE(window_->windowTitle(), QString("Orlix/32 - FITS File Converter"));
        QVERIFY(Text().empty());
        QVERIFY(W<QRadioButton>("optStandard")->isChecked());
        QCOMPARE(W<QLabel>("lblFormat")->text(), QString("Primary Data + Orlix/32 Data"));
        QCOMPARE(W<QComboBox>("cboType")->currentText(), QString("None"));
        QCOMPARE(W<QComboBox>("cboType")->count(), 5);
        for (const char* name :
             {"txtKeywordAdd", "txtValueAdd", "txtCommentAdd", "txtKeywordRemove", "txtHeaderLine"})
            QVERIFY(!W<QWidget>(name)->isEnabled());
        for (const char* name :
             {"cmdAddLine", "cmdRemoveLine", "cmdClear", "cmdAddPrimary", "cmdAddOrlix"})
            QVERIFY(!W<QWidget>(name)->isEnabled());
        QVERIFY(!W<QWidget>("updHeaderLine")->isEnabled());
        QVERIFY(W<QLineEdit>("txtAddFile")->isEnabled());
        QVERIFY(Header()->isEnabled());
        // Neighbours that touch in twips touch in pixels.
        QCOMPARE(W<QWidget>("txtHeaderLine")->geometry().right() + 1,
                 W<QWidget>("updHeaderLine")->geometry().left());
        QCOMPARE(Header()->font().pointSize(), 9);
    }

    void tabOrderFollowsTheLayoutTable() {
        const QStringList expected = {
            "txtHeader",     "optStandard",      "txtAddFile",     "optCustom",
            "cmdRun",        "cmdConvert",       "cmdDisplay",     "cmdSaveFile",
            "txtKeywordAdd", "txtValueAdd",      "txtCommentAdd",  "cboType",
            "cmdAddLine",    "txtKeywordRemove", "txtValueRemove", "txtCommentRemove",
            "txtHeaderLine", "updHeaderLine",    "cmdRemoveLine",  "cmdClear",
            "cmdAddPrimary", "cmdAddOrlix",      "cmdAddFile"};
        QStringList order;
        QWidget* w = Header();
        for (int i = 0; i < 200 && order.size() < expected.size(); ++i, w = w->nextInFocusChain())
            if (expected.contains(w->objectName()) && !order.contains(w->objectName()))
                order << w->objectName();
        QCOMPARE(order, expected);
        Header()->setFocus();
        QTest::keyClick(Header(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("optStandard"));
    }

    void formatSwitching() {
        auto* add = W<QLineEdit>("txtAddFile");
        add->setFocus();
        QTest::keyClicks(add, "  a.fit  ");
        QCOMPARE(W<QLabel>("lblFormat")->text(), QString("Primary Data + Orlix/32 Data + a.fit"));
        Custom();
        QVERIFY(!add->isEnabled());
        QCOMPARE(add->text(), QString("  a.fit  "));
        QCOMPARE(W<QLabel>("lblFormat")->text(), QString("Use header shown above"));
        QVERIFY(W<QWidget>("cmdAddLine")->isEnabled());
        QVERIFY(!W<QWidget>("cmdClear")->isEnabled());  // empty header
        QVERIFY(add->palette().color(QPalette::Base) !=
                W<QLineEdit>("txtKeywordAdd")->palette().color(QPalette::Base));
        Standard();
        QCOMPARE(W<QLabel>("lblFormat")->text(), QString("Primary Data + Orlix/32 Data + a.fit"));
        add->clear();
        QTest::keyClicks(add, "   ");
        QCOMPARE(W<QLabel>("lblFormat")->text(), QString("Primary Data + Orlix/32 Data"));
    }

    void editorAddRemoveNavigate() {
        Custom();
        Type("txtKeywordAdd", "naxis1");
        Type("txtValueAdd", "512");
        Type("txtCommentAdd", "number of columns");
        W<QComboBox>("cboType")->setCurrentIndex(static_cast<int>(ValueType::kInteger));
        Click("cmdAddLine");  // empty header: appended
        QCOMPARE(Text(), std::string("NAXIS1  =                  512 / number of columns\r\n"));
        QCOMPARE(W<UpDown>("updHeaderLine")->Maximum(), 2);  // past the last line: "End"
        QCOMPARE(W<QLineEdit>("txtHeaderLine")->text(), QString("Line 1"));
        QCOMPARE(W<QLineEdit>("txtValueRemove")->text(), QString("512"));
        QVERIFY(W<QWidget>("cmdRemoveLine")->isEnabled());

        Type("txtKeywordAdd", "comment");
        Type("txtValueAdd", "first");
        Type("txtCommentAdd", "");
        W<QComboBox>("cboType")->setCurrentIndex(static_cast<int>(ValueType::kString));
        Click("cmdAddLine");  // caret at the start, navigator on 1: inserted as line 1
        Type("txtValueAdd", "second");
        Click("cmdAddLine");
        QCOMPARE(GetLine(Text(), 1), std::string("COMMENT second\r\n"));
        QCOMPARE(GetLine(Text(), 2), std::string("COMMENT first\r\n"));
        QCOMPARE(W<UpDown>("updHeaderLine")->Maximum(), 4);

        // The caret at the very end appends.
        Header()->setFocus();
        QTest::keyClick(Header(), Qt::Key_End, Qt::ControlModifier);
        QTRY_COMPARE(W<UpDown>("updHeaderLine")->Value(),
                     3);  // behind the final line end: last card
        Type("txtKeywordAdd", "done");
        W<QComboBox>("cboType")->setCurrentIndex(static_cast<int>(ValueType::kNone));
        Header()->setFocus();
        QTest::keyClick(Header(), Qt::Key_End, Qt::ControlModifier);
        Click("cmdAddLine");
        QCOMPARE(GetLine(Text(), 4), std::string("DONE    \r\n"));

        // Keys and clicks in the header box move the navigator to the caret's line.
        Header()->setFocus();
        QTest::keyClick(Header(), Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(Header(), Qt::Key_Down);
        QTRY_COMPARE(W<UpDown>("updHeaderLine")->Value(), 2);
        QCOMPARE(W<QLineEdit>("txtValueRemove")->text(), QString("first"));
        QTextBlock third = Header()->document()->findBlockByNumber(2);
        QRect r = Header()->cursorRect(QTextCursor(third));
        QTest::mouseClick(Header()->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(W<UpDown>("updHeaderLine")->Value(), 3);
        QCOMPARE(W<QLineEdit>("txtKeywordRemove")->text(), QString("NAXIS1"));

        // The navigator's arrows, Remove Line and Clear Header.
        QTest::mouseClick(W<UpDown>("updHeaderLine")->findChild<QWidget*>("down"), Qt::LeftButton);
        QCOMPARE(W<QLineEdit>("txtHeaderLine")->text(), QString("Line 2"));
        Click("cmdRemoveLine");
        QCOMPARE(CountRealLines(Text()), 3);
        QCOMPARE(W<QLineEdit>("txtValueRemove")->text(), QString("512"));
        QCOMPARE(W<UpDown>("updHeaderLine")->Maximum(), 4);
        Click("cmdClear");
        QVERIFY(Text().empty());
        QVERIFY(!W<QWidget>("cmdClear")->isEnabled());
        QVERIFY(!W<QWidget>("cmdRemoveLine")->isEnabled());
        QVERIFY(W<QLineEdit>("txtHeaderLine")->text().isEmpty());
    }

    void inputBoxesSelectAllOnFocus() {
        Custom();
        Type("txtValueAdd", "hello");
        auto* keyword = W<QLineEdit>("txtKeywordAdd");
        keyword->setText("keyword");
        QTest::mouseClick(keyword, Qt::LeftButton, {}, QPoint(3, 3));
        QTRY_COMPARE(keyword->selectedText(), QString("keyword"));
        QTest::keyClick(keyword, Qt::Key_Tab);
        QTRY_COMPARE(W<QLineEdit>("txtValueAdd")->selectedText(), QString("hello"));
    }

    void addPrimaryAndOrlixFromSettings() {
        QVERIFY(orlix::SaveSettings({0.5, 2, 1, 64, 32, false}).ok());
        window_->today = [] { return std::string("2026-12-31"); };
        Custom();
        Click("cmdAddPrimary");
        Click("cmdAddOrlix");
        QCOMPARE(CountRealLines(Text()), 9);
        QCOMPARE(GetValue(GetLine(Text(), 2)), std::string("16"));
        QCOMPARE(GetValue(GetLine(Text(), 7)), std::string("2026-12-31"));  // the date seam's
        QCOMPARE(GetValue(GetLine(Text(), 9)), std::string("0.5"));
    }

    // Add Line refuses a card FITS readers would refuse or one that breaks the mandatory
    // order, and says what a card it adds does not keep of what was typed; a header that
    // is refused is never written.
    void addLineRefusesAndSays() {
        const struct {
            int line;  // the navigator's line (the card goes before it); 0: appended
            QString keyword, value;
            ValueType type;
            QString comment;
            std::string said;  // part of the message; refused when it holds "No line"
        } cases[] = {
            {1, "observer", "me", ValueType::kString, "",
             "(OBSERVER) stands where FITS requires "
             "SIMPLE"},
            {6, "observer", "me", ValueType::kString, "",
             "(OBSERVER) stands where FITS requires "
             "NAXIS3"},
            {0, "xtension", "IMAGE", ValueType::kString, "", "belongs to extension"},
            {0, "bitpix", "16", ValueType::kInteger, "",
             "(BITPIX) BITPIX already stands at line 2"},
            {0, "bscale", "2", ValueType::kString, "", "(BSCALE) must have a number"},
            {0, "end", "", ValueType::kNone, "", "is END, which ends a header"},
            {0, "observer", "J\u00fcrgen", ValueType::kString, "", "the value holds \"\u00fc\""},
            {0, "obj\u00e9t", "M31", ValueType::kString, "", "the keyword holds \"\u00e9\""},
            {0, "object", std::string(70, 'x').c_str(), ValueType::kString, "",
             "does not end within the 80 columns"},
            // Added, with a word on what is not kept.
            {0, "object", "M31", ValueType::kString, std::string(70, 'c').c_str(),
             "beyond column 80 is cut off"},
            {0, "filter", "red", ValueType::kNone, "", "the value \"red\" is not written"},
            {0, "gain", "2.5", ValueType::kInteger, "", "\"2.5\" is written as 2"},
            {0, "offset", "nan", ValueType::kFloating, "", "\"nan\" is written as 0."},
            {0, "a.b", "1", ValueType::kInteger, "", "the keyword \"a.b\" is written as \"AB\""},
        };
        QVERIFY(orlix::SaveSettings({0.5, 2, 1, 64, 32, false}).ok());
        Custom();
        for (const auto& c : cases) {
            Click("cmdClear");
            Click("cmdAddPrimary");  // SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2, NAXIS3
            const std::string before = Text();
            Header()->setFocus();
            QTest::keyClick(Header(), Qt::Key_Home, Qt::ControlModifier);
            for (int i = 1; i < c.line; ++i)
                QTest::keyClick(Header(), Qt::Key_Down);
            if (c.line == 0) QTest::keyClick(Header(), Qt::Key_End, Qt::ControlModifier);
            QTRY_COMPARE(W<UpDown>("updHeaderLine")->Value(), c.line == 0 ? 6 : c.line);
            Type("txtKeywordAdd", c.keyword);
            Type("txtValueAdd", c.value);
            Type("txtCommentAdd", c.comment);
            W<QComboBox>("cboType")->setCurrentIndex(static_cast<int>(c.type));
            messages_.clear();
            Click("cmdAddLine");
            QCOMPARE(messages_.size(), std::size_t(1));
            QVERIFY2(messages_[0].find(c.said) != std::string::npos, messages_[0].c_str());
            const bool refused = messages_[0].find("No line was added") != std::string::npos;
            QCOMPARE(Text() == before, refused);
            QVERIFY2(!HasDoubleStop(messages_[0]), messages_[0].c_str());
            // A card refused before a line says how to append it.
            QCOMPARE(messages_[0].find("to append it") != std::string::npos, refused && c.line > 0);
        }
        // After Add Primary Data the navigator stands past the last card: Add Line appends,
        // and appends again after that.
        Click("cmdClear");
        Click("cmdAddPrimary");
        QCOMPARE(W<QLineEdit>("txtHeaderLine")->text(), QString("End"));
        messages_.clear();
        for (const char* keyword : {"observer", "object"}) {
            Type("txtKeywordAdd", keyword);
            Type("txtValueAdd", "x");
            W<QComboBox>("cboType")->setCurrentIndex(static_cast<int>(ValueType::kString));
            Click("cmdAddLine");
        }
        QVERIFY2(messages_.empty(), messages_.empty() ? "" : messages_[0].c_str());
        QCOMPARE(GetKeyword(GetLine(Text(), 7)), std::string("OBSERVER"));
        QCOMPARE(GetKeyword(GetLine(Text(), 8)), std::string("OBJECT"));
        // A header whose card has a long comment converts, and the cut is said again.
        std::filesystem::copy_file(testing_support::Sample("image_uint16_30x20x2.spe"),
                                   *dir_ / "im.spe");
        messages_.clear();
        fits::SetHeaderText(
            *window_,
            "SIMPLE  =                    T\r\n"
            "BITPIX  =                   32\r\n"
            "NAXIS   =                    3\r\n"
            "NAXIS1  =                   30\r\n"
            "NAXIS2  =                   20\r\n"
            "NAXIS3  =                    2\r\n" +
                BuildCard("object", "M31", ValueType::kString, std::string(70, 'c')));
        dialog_->results.push_back(*dir_ / "im.spe");
        Click("cmdConvert");
        QCOMPARE(messages_.size(), std::size_t(1));
        QVERIFY2(messages_[0].find("is cut at column 80") != std::string::npos,
                 messages_[0].c_str());
        std::string cmd =
            "fitsverify '" + (*dir_ / "im.fit") + "' | grep -q 'found 0 warning(s) and 0 error(s)'";
        QCOMPARE(std::system(cmd.c_str()), 0);
    }

    void convertStandardWithMultipleSelection() {
        for (const char* name : {"hene_int32_1340x1.spe", "image_uint16_30x20x2.spe"})
            std::filesystem::copy_file(testing_support::Sample(name), *dir_ / name);
        dialog_->results.push_back(dir_->path() + '\0' + "hene_int32_1340x1.spe" + '\0' +
                                   "image_uint16_30x20x2.spe");
        Click("cmdConvert");
        QCOMPARE(dialog_->shown.back().second, 0x281204u);
        QCOMPARE(dialog_->shown.back().first,
                 std::string("Orlix Files (*.spe)|*.spe|All Files (*.*)|*.*"));
        QCOMPARE(dialog_->InitialFolder(), dir_->path());
        QVERIFY(dialog_->FileName().empty());
        QVERIFY(messages_.empty());
        for (const char* name : {"hene_int32_1340x1.fit", "image_uint16_30x20x2.fit"}) {
            std::string cmd =
                "fitsverify -q -e '" + (*dir_ / name) + "' | grep -q 'verification OK'";
            QCOMPARE(std::system(cmd.c_str()), 0);
        }
        QCOMPARE(GetValue(GetLine(Text(), 4)), std::string("30"));  // the last file's header
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // The choices beyond the Standard header: off at start, on from the "Standard" option's
    // context menu, and applied to the next conversion; the layout keeps its controls.
    void scienceChoicesFromTheStandardContextMenu() {
        auto* standard = W<QRadioButton>("optStandard");
        QCOMPARE(standard->contextMenuPolicy(), Qt::ActionsContextMenu);
        for (const char* name : {"actMetadata", "actBzero", "actRegions"}) {
            auto* action = standard->findChild<QAction*>(name);
            QVERIFY(action && action->isCheckable() && !action->isChecked());
        }
        QVERIFY(!window_->Science().metadata && !window_->Science().bzero);
        std::filesystem::copy_file(testing_support::Sample("noise_uint16_1020x1x5.spe"),
                                   *dir_ / "n.spe");
        dialog_->results.push_back(*dir_ / "n.spe");
        Click("cmdConvert");
        QVERIFY(Text().find("CTYPE1") == std::string::npos);
        QCOMPARE(GetValue(GetLine(Text(), 2)), std::string("32"));

        standard->findChild<QAction*>("actMetadata")->trigger();
        standard->findChild<QAction*>("actBzero")->trigger();
        QVERIFY(window_->Science().metadata && window_->Science().bzero);
        QVERIFY(!window_->Science().regions);
        dialog_->results.push_back(*dir_ / "n.spe");
        Click("cmdConvert");
        QVERIFY(messages_.empty());
        QCOMPARE(GetValue(GetLine(Text(), 2)), std::string("16"));
        QVERIFY(Text().find("CTYPE1  = 'WAVE-TAB'") != std::string::npos);
        QVERIFY(Text().find("DATE-OBS= '2011-03-29T07:27:32'") != std::string::npos);
        QVERIFY(Text().find("HISTORY written by FITS " PROJECT_VERSION_TEXT) != std::string::npos);
        std::string cmd =
            "fitsverify '" + (*dir_ / "n.fit") + "' | grep -q 'found 0 warning(s) and 0 error(s)'";
        QCOMPARE(std::system(cmd.c_str()), 0);

        // Displayed, the FITS file plots against the wavelengths of the SPE file it came from.
        orlix::ViewerHost host(*app_);
        dialog_->results.push_back(*dir_ / "n.fit");
        Click("cmdDisplay");
        QVERIFY(messages_.empty());
        orlix::DocumentViewer* shown = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<orlix::DocumentViewer*>(w); v && v->isVisible()) shown = v;
        QVERIFY(shown);
        auto source = std::make_shared<orlix::DocumentState>();
        source->file = std::move(orlix::SpeFile::Open(*dir_ / "n.spe").value());
        orlix::DocumentViewer beside(source);
        beside.show();
        // The text under the mouse there (the viewer tests show it reaches the label).
        auto wavelength_at = [](orlix::DocumentViewer& viewer, double share) {
            const QRect plot = viewer.View()->DataRect();
            const QPoint at(plot.left() + static_cast<int>(share * plot.width()),
                            plot.center().y());
            return viewer.View()->ValueAt(at).section(" at ", 1);
        };
        for (double share : {0.0, 0.5, 0.99}) {
            beside.resize(shown->size());
            QVERIFY(wavelength_at(*shown, share).endsWith(" nm"));
            QCOMPARE(wavelength_at(*shown, share), wavelength_at(beside, share));
        }
    }

    void convertCustomAndReportFailures() {
        std::filesystem::copy_file(testing_support::Sample("noise_uint16_1020x1x5.spe"),
                                   *dir_ / "n.spe");
        std::ofstream(*dir_ / "bad.spe") << "x";
        Custom();
        fits::SetHeaderText(*window_, kPrimary8 +
                                          "NAXIS   =                    3\r\n"
                                          "NAXIS1  =                    2\r\n"
                                          "NAXIS2  =                    1\r\n"
                                          "NAXIS3  =                    5\r\n");
        dialog_->results.push_back(dir_->path() + '\0' + "bad.spe" + '\0' + "n.spe");
        Click("cmdConvert");
        QCOMPARE(messages_.size(), std::size_t(1));
        QVERIFY(messages_[0].find("bad.spe: not an SPE file") != std::string::npos);
        QVERIFY(messages_[0].find("clamped") != std::string::npos);  // 670 does not fit 8 bits
        QCOMPARE(std::filesystem::file_size(*dir_ / "n.fit"), std::uintmax_t(5760));
        dialog_->results.push_back("");  // cancel: nothing happens
        Click("cmdConvert");
        QCOMPARE(messages_.size(), std::size_t(1));
    }

    void runExperiment() {
        QVERIFY(orlix::SaveSettings({0.01, 2, 1, 16, 8, false}).ok());
        Click("cmdRun");
        auto kept = app_->KeptDocuments();
        QCOMPARE(kept.size(), std::size_t(1));
        std::string fit = ChangeExtension(kept[0]->file->Info().path, "fit");
        QCOMPARE(std::filesystem::file_size(fit), std::uintmax_t(2880 * 2));
        QCOMPARE(messages_.size(), std::size_t(1));  // says where the FITS file went
        QVERIFY(messages_[0].find("written to\n" + fit) != std::string::npos);
        QCOMPARE(GetValue(GetLine(Text(), 5)), std::string("8"));
        // A Custom header readers would refuse is said before the camera runs.
        Custom();
        fits::SetHeaderText(*window_, "OBSERVER= 'me'\r\n" + Text());
        messages_.clear();
        Click("cmdRun");
        QCOMPARE(app_->KeptDocuments().size(), std::size_t(1));  // nothing acquired
        QCOMPARE(messages_.size(), std::size_t(1));
        QVERIFY2(messages_[0].find("Custom header: header line 1 (OBSERVER) stands where FITS "
                                   "requires SIMPLE") != std::string::npos &&
                     messages_[0].find("nothing acquired") != std::string::npos,
                 messages_[0].c_str());
    }

    void saveHeaderTextAndBlock() {
        Custom();
        const std::string header = kPrimary8 + "NAXIS   =                    0\r\n";
        fits::SetHeaderText(*window_, header);
        const std::pair<std::string, std::size_t> cases[] = {{"header.txt", 96},
                                                             {"header.fit", 2880},
                                                             {"HEADER.FIT", 2880},
                                                             {"h.fits", 2880},
                                                             {"my.fitness.txt", 2880}};
        for (const auto& [name, size] : cases) {
            dialog_->results.push_back(*dir_ / name);
            dialog_->filters.push_back(3);  // All Files: the name decides
            Click("cmdSaveFile");
            QCOMPARE(std::filesystem::file_size(*dir_ / name), size);
        }
        QCOMPARE(dialog_->shown.back().second, 0x200806u);
        QCOMPARE(ReadAll(*dir_ / "header.txt"), header);
        QVERIFY(messages_.empty());
        // The chosen filter decides the form, and the extension of a name typed without one.
        const struct {
            int filter;
            const char* typed;
            const char* written;
            std::size_t size;
        } chosen[] = {{1, "hdr", "hdr.fit", 2880},
                      {2, "hdr", "hdr.txt", 96},
                      {1, "block.txt", "block.txt", 2880},
                      {2, "text.fit", "text.fit", 96},
                      {3, "plain", "plain", 96}};
        for (const auto& c : chosen) {
            dialog_->results.push_back(*dir_ / c.typed);
            dialog_->filters.push_back(c.filter);
            Click("cmdSaveFile");
            QVERIFY2(std::filesystem::exists(*dir_ / c.written), c.written);
            QCOMPARE(std::filesystem::file_size(*dir_ / c.written), c.size);
        }
        QVERIFY(!std::filesystem::exists(*dir_ / "hdr"));
        // A header readers would refuse is not saved, and the message names the line.
        const std::pair<std::string, std::string> refused[] = {
            {"", "empty.fit: the header is empty"},
            {"A = 1\r\n", "bad.txt: header line 1 has the keyword field \"A = 1\""},
            {"X       = 'open\r\n", "open.txt: header line 1 (X) has a string value without"},
            {"OBSERVER= 'me'\r\n", "cards.fit: header line 1 (OBSERVER) stands where FITS"},
        };
        for (const auto& [text, said] : refused) {
            fits::SetHeaderText(*window_, text);
            const std::string name = said.substr(0, said.find(':'));
            dialog_->results.push_back(*dir_ / name);
            dialog_->filters.push_back(3);
            Click("cmdSaveFile");
            QVERIFY(!std::filesystem::exists(*dir_ / name));
            QCOMPARE(messages_.size(), std::size_t(1));
            QVERIFY2(messages_[0].find(said) != std::string::npos, messages_[0].c_str());
            messages_.clear();
        }
    }

    void addFitsFileHeaderBothModes() {
        std::string fit = *dir_ / "extra.txt";
        std::ofstream(fit) << "OBSERVER= 'me'\r\n";
        dialog_->results.push_back(fit);
        Click("cmdAddFile");  // Standard: the header box does not change
        QVERIFY(Text().empty());
        QCOMPARE(W<QLabel>("lblFormat")->text(),
                 QString::fromStdString("Primary Data + Orlix/32 Data + " + fit));
        Custom();
        fits::SetHeaderText(*window_, "A = 1\r\n");
        dialog_->results.push_back(fit);
        Click("cmdAddFile");
        QCOMPARE(Text(), std::string("A = 1\r\nOBSERVER= 'me'\r\n"));
        QCOMPARE(W<QLineEdit>("txtAddFile")->text(), QString::fromStdString(fit));
    }

    void displayFitsFileCreatesDocument() {
        ConvertSample("image_uint16_30x20x2.spe", "im");
        std::filesystem::remove(*dir_ / "im.spe");
        dialog_->results.push_back(*dir_ / "im.fit");
        Click("cmdDisplay");
        QVERIFY2(messages_.empty(), messages_.empty() ? "" : messages_[0].c_str());
        QCOMPARE(GetValue(GetLine(Text(), 2)), std::string("32"));
        auto doc = app_->NewDataDocument();
        QVERIFY(doc->Open(*dir_ / "im.spe", 0, 0, 0, 0, "").ok());
        QCOMPARE(doc->GetParam(doc_param::kColumns).ToInt32(), 30);
        QCOMPARE(doc->GetParam(doc_param::kRows).ToInt32(), 20);
        QCOMPARE(doc->GetParam(doc_param::kFrames).ToInt32(), 2);
        QCOMPARE(doc->GetParam(doc_param::kDataType).ToInt32(), 2);
        Frame frame;
        QVERIFY(doc->GetFrame(1, frame).ok());
        QCOMPARE(frame.At(0, 0), 2020.0);
        QCOMPARE(frame.At(3, 0), 2002.0);
        // Compressed, the box shows the image's own header, not its storage's.
        W<QRadioButton>("optStandard")->findChild<QAction*>("actCompress")->trigger();
        dialog_->results.push_back(*dir_ / "im.spe");
        Click("cmdConvert");
        dialog_->results.push_back(*dir_ / "im.fit.fz");
        Click("cmdDisplay");
        QCOMPARE(GetLine(Text(), 2).substr(0, 30), std::string("BITPIX  =                   32"));
        QCOMPARE(Text().find("ZIMAGE"), std::string::npos);
    }

    // Any UTF-8 name works in every command and shows as typed; the display of a converted
    // file never replaces the SPE file beside it.
    void utf8PathsAndDisplayBesideItsSource() {
        const std::string folder = *dir_ / "j\xC3\xBCrgen \xE6\x98\x9F";
        std::filesystem::create_directory(folder);
        const std::string site = folder + "/s\xC3\xAEte.txt";
        std::ofstream(site) << "OBSERVER= 'me'\n";
        const std::string spe = folder + "/r\xC3\xBCn.spe";
        std::filesystem::copy_file(testing_support::Sample("image_uint16_30x20x2.spe"), spe);
        const std::string raw = ReadAll(spe);
        W<QLineEdit>("txtAddFile")->setText(QString::fromUtf8(site.c_str()));
        QCOMPARE(W<QLabel>("lblFormat")->text(),
                 QString::fromUtf8(("Primary Data + Orlix/32 Data + " + site).c_str()));
        dialog_->results.push_back(spe);
        Click("cmdConvert");
        QVERIFY2(messages_.empty(), messages_.empty() ? "" : messages_[0].c_str());
        const std::string fit = folder + "/r\xC3\xBCn.fit";
        QVERIFY(ReadAll(fit).find("OBSERVER= 'me'") != std::string::npos);

        dialog_->results.push_back(fit);
        Click("cmdDisplay");
        QVERIFY2(messages_.empty(), messages_.empty() ? "" : messages_[0].c_str());
        QCOMPARE(ReadAll(spe), raw);
        QVERIFY(std::filesystem::exists(folder + "/r\xC3\xBCn-2.spe"));

        W<QLineEdit>("txtAddFile")->setText(QString::fromUtf8((folder + "/none.txt").c_str()));
        dialog_->results.push_back(spe);
        Click("cmdConvert");
        QCOMPARE(messages_.size(), std::size_t(1));
        QVERIFY(messages_[0].find("none.txt: cannot open: No such file") != std::string::npos);
    }

    void busyCursorDuringCommand() {
        // A factory that notes whether the busy pointer is on when a command asks for objects.
        struct ProbeFactory : AutomationFactory {
            orlix::Application& app;
            int busy_calls = 0;
            explicit ProbeFactory(orlix::Application& a) : app(a) {}
            void Note() {
                if (QApplication::overrideCursor() &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor)
                    ++busy_calls;
            }
            std::unique_ptr<DataDocument> NewDataDocument() override {
                Note();
                return app.NewDataDocument();
            }
            std::unique_ptr<Experiment> NewExperiment() override {
                Note();
                return app.NewExperiment();
            }
        } probe(*app_);
        auto dialog = std::make_unique<ScriptedDialog>();
        ScriptedDialog* scripted = dialog.get();
        frmFITS window(probe, std::move(dialog));
        window.show_message = [](const std::string&, const std::string&) {};
        window.show();
        QVERIFY(orlix::SaveSettings({0.01, 1, 1, 8, 8, false}).ok());
        QTest::mouseClick(window.findChild<QPushButton*>("cmdRun"), Qt::LeftButton);
        QVERIFY(probe.busy_calls >= 2);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                   *dir_ / "h.spe");
        scripted->results.push_back(*dir_ / "h.spe");
        probe.busy_calls = 0;
        QTest::mouseClick(window.findChild<QPushButton*>("cmdConvert"), Qt::LeftButton);
        QVERIFY(probe.busy_calls >= 1);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // Dialogs that fail or are cancelled leave no busy pointer behind.
        QTest::mouseClick(window.findChild<QPushButton*>("cmdSaveFile"), Qt::LeftButton);
        scripted->results.push_back("");
        QTest::mouseClick(window.findChild<QPushButton*>("cmdDisplay"), Qt::LeftButton);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void longConversionShowsProgressAndCancels() {
        SlowFactory slow(*app_, 150, 0);  // a batch of 20 files runs about 3 s
        auto dialog = std::make_unique<ScriptedDialog>();
        ScriptedDialog* scripted = dialog.get();
        frmFITS window(slow, std::move(dialog));
        std::vector<std::string> shown;
        window.show_message = [&](const std::string& text, const std::string&) {
            shown.push_back(text);
        };
        window.show();
        std::string pick = dir_->path();
        for (int i = 0; i < 20; ++i) {
            std::string name = std::string("f").append(std::to_string(i + 10)).append(".spe");
            std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                       *dir_ / name);
            pick += '\0' + name;
        }
        scripted->results.push_back(pick);
        // Opening the sixth file (at 750 ms, past the dialog's 500) the user clicks Cancel:
        // five files are written, the sixth is not kept.
        bool progress_seen = false;
        int opened = 0;
        slow.on_open = [&] {
            auto* progress = window.findChild<QProgressDialog*>("workProgress");
            if (++opened != 6 || !progress || !progress->isVisible()) return;
            progress_seen = true;
            QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        };
        QTest::mouseClick(window.findChild<QPushButton*>("cmdConvert"), Qt::LeftButton);
        QVERIFY(progress_seen);
        int written = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir_->path())) {
            QVERIFY(entry.path().filename().string()[0] != '.');  // no temporary file left
            if (entry.path().extension() == ".fit") {
                ++written;
                QCOMPARE(std::filesystem::file_size(entry.path()), std::uintmax_t(8640));
            }
        }
        QCOMPARE(written, 5);
        QCOMPARE(shown.size(), std::size_t(1));
        QVERIFY2(
            shown[0].find("Stopped: " + (*dir_ / "f15.spe") +
                          " and the 14 files after it were not converted.") != std::string::npos,
            shown[0].c_str());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // A Cancel while work that cannot be interrupted runs aside (a compression) says that the
    // work ends first, until it does.
    void cancelAsideSaysTheWorkEndsFirst() {
        QWidget window;
        window.show();
        WorkProgress work(&window, "Convert SPE Files");
        std::atomic<bool> stop{false}, said{false};
        bool cancelled = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* progress = window.findChild<QProgressDialog*>("workProgress");
            if (!progress || !progress->isVisible()) return;
            if (!cancelled) {
                progress->cancel();
                cancelled = true;
            } else if (progress->labelText().contains("Cancelling") &&
                       !progress->findChild<QPushButton*>()) {
                said = true;
            }
        });
        poll.start(20);
        work.RunAside(
            "Compressing x.spe...",
            [&] {
                for (int i = 0; i < 500 && !said; ++i)  // at most 10 s, under load too
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            },
            stop);
        poll.stop();
        QVERIFY(cancelled && said && stop && work.Cancelled());
    }

    // Display keeps both windows painting while it works, shows its progress with Cancel, and
    // keeps nothing when cancelled, by its button or by closing the window (which asks first).
    void displayShowsProgressKeepsPaintingAndCancels() {
        QVERIFY(orlix::SpeFile::Create(*dir_ / "many.spe", 64, 64, 20, orlix::kSpeInt16));
        dialog_->results.push_back(*dir_ / "many.spe");
        Click("cmdConvert");
        QVERIFY(std::filesystem::exists(*dir_ / "many.fit"));
        SlowFactory slow(*app_, 0, 100);  // 20 frames of 100 ms: a display of about 2 s
        auto dialog = std::make_unique<ScriptedDialog>();
        ScriptedDialog* scripted = dialog.get();
        frmFITS window(slow, std::move(dialog));
        std::vector<std::string> shown, asked;
        window.show_message = [&](const std::string& text, const std::string&) {
            shown.push_back(text);
        };
        window.ask = [&](const std::string& question) {
            asked.push_back(question);
            return true;
        };
        window.show();
        SetHeaderText(window, kPrimary8);
        for (bool by_closing : {false, true}) {
            int paints = 0;
            bool acted = false;
            PaintCounter counter(paints);
            auto* label = window.findChild<QLabel*>("lblFormat");
            label->installEventFilter(&counter);
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                label->update();
                auto* progress = window.findChild<QProgressDialog*>("workProgress");
                if (acted || !progress || !progress->isVisible() || paints < 5) return;
                acted = true;
                QVERIFY(progress->labelText().contains("many.fit"));
                QVERIFY(!window.isEnabled());
                if (by_closing)
                    window.close();
                else
                    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
            });
            poll.start(20);
            scripted->results.push_back(*dir_ / "many.fit");
            QTest::mouseClick(window.findChild<QPushButton*>("cmdDisplay"), Qt::LeftButton);
            poll.stop();
            label->removeEventFilter(&counter);
            QVERIFY(acted);
            QVERIFY(!std::filesystem::exists(*dir_ / "many-2.spe"));  // nothing kept
            QCOMPARE(window.Text(), kPrimary8);                       // the box as it was
            QVERIFY(window.isEnabled());
            QVERIFY(QApplication::overrideCursor() == nullptr);
            if (by_closing) {
                QCOMPARE(asked.size(), std::size_t(1));
                QVERIFY(asked[0].find("Display FITS File is running") != std::string::npos);
                QTRY_VERIFY(!window.isVisible());
            } else {
                QCOMPARE(shown, std::vector<std::string>{
                                    "Display FITS File:\n\nCancelled: nothing was displayed."});
                shown.clear();
            }
        }
        QVERIFY(shown.empty());
        QVERIFY(app_->KeptDocuments().empty());
    }

    void realQtDialogMultipleSelection() {
        for (const char* name : {"a.spe", "b.spe"})
            std::ofstream(*dir_ / name) << "x";
        QtFileDialog dialog;
        dialog.SetInitialFolder(dir_->path());
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&poll, this] {
            QFileDialog* fd = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) fd = d;
            if (!fd) return;
            poll.stop();
            fd->selectFile(QString::fromStdString(*dir_ / "a.spe"));
            auto* name = fd->findChild<QLineEdit*>("fileNameEdit");
            if (name) name->setText("\"a.spe\" \"b.spe\"");
            QMetaObject::invokeMethod(fd, "accept", Qt::QueuedConnection);
        });
        poll.start(50);
        QVERIFY(dialog.ShowOpen("Orlix Files (*.spe)|*.spe|All Files (*.*)|*.*", 0x281204));
        std::vector<std::string> files = ListPickedFiles(dialog);
        QCOMPARE(files.size(), std::size_t(2));
        QCOMPARE(files[0], *dir_ / "a.spe");
        QCOMPARE(files[1], *dir_ / "b.spe");
        QCOMPARE(TranslateFilter("Orlix Files (*.spe)|*.spe|All Files (*.*)|*.*"),
                 std::string("Orlix Files (*.spe);;All Files (*)"));
    }

    void captionsFitTheirBoxes() {
        // Every caption in the window's font, against the box the layout gives the control.
        int checked = 0;
        for (QWidget* w : window_->findChildren<QWidget*>()) {
            const QFontMetrics fm = w->fontMetrics();
            QString text;
            int needed = 0, room = 0;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                text = label->text();
                needed = fm.horizontalAdvance(text);
                room = label->contentsRect().width();
                QVERIFY2(text.isEmpty() || fm.height() <= label->contentsRect().height(),
                         qPrintable(w->objectName()));
            } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
                text = radio->text();
                needed = fm.horizontalAdvance(text) +
                         w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                         w->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
                room = radio->width();
            } else if (auto* button = qobject_cast<QPushButton*>(w)) {
                text = button->text();
                needed = fm.horizontalAdvance(text) +
                         2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin);
                room = button->width();
            }
            if (text.isEmpty()) continue;
            ++checked;
            QVERIFY2(needed <= room, qPrintable(QString("%1 \"%2\": %3 > %4")
                                                    .arg(w->objectName(), text)
                                                    .arg(needed)
                                                    .arg(room)));
        }
        QCOMPARE(checked, 5 + 2 + 10);  // five labels, two options, ten buttons
        QVERIFY(W<QLabel>("lblKeyword")->font().pointSizeF() >= 6);
        QCOMPARE(Header()->font().pointSize(), 9);  // the header box keeps its own font
    }

    void navigatorMarksAndShowsTheChosenLine() {
        Custom();
        std::string text;
        for (int i = 1; i <= 60; ++i)
            text += BuildCard("K" + std::to_string(i), std::to_string(i), ValueType::kInteger,
                              i == 45 ? std::string(60, 'c') + " the end" : "c") +
                    "\r\n";
        fits::SetHeaderText(*window_, text);
        auto* nav = W<UpDown>("updHeaderLine");
        const QImage unfocused = nav->grab().toImage();
        nav->setFocus();
        QVERIFY(nav->hasFocus());
        QVERIFY(nav->grab().toImage() != unfocused);  // the focus mark shows
        for (int i = 1; i < 45; ++i)
            QTest::keyClick(nav, Qt::Key_Up);
        QCOMPARE(nav->Value(), 45);
        const QList<QTextEdit::ExtraSelection> marks = Header()->extraSelections();
        QCOMPARE(marks.size(), 1);
        QCOMPARE(marks[0].cursor.block().blockNumber(), 44);
        const QRect line = Header()->cursorRect(QTextCursor(marks[0].cursor.block()));
        QVERIFY(Header()->viewport()->rect().contains(line));  // scrolled into view
        auto* comment = W<QLineEdit>("txtCommentRemove");
        QVERIFY(comment->text().endsWith("the end"));
        QCOMPARE(comment->cursorPosition(), 0);  // a long text shows its start
        Click("cmdRemoveLine");                  // acts on the line the user sees
        QCOMPARE(GetKeyword(GetLine(Text(), 45)), std::string("K46"));
        QCOMPARE(Header()->extraSelections()[0].cursor.block().text().left(3), QString("K46"));
        Click("cmdClear");
        QVERIFY(Header()->extraSelections().isEmpty());
    }

    void messagesTellFailuresAndCounts() {
        std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                   *dir_ / "good.spe");
        std::ofstream(*dir_ / "bad.spe") << "x";
        QVERIFY(SaveHeader("SIMPLE  =                    T\r\nBITPIX  =                   64\r\n"
                           "NAXIS   =                    3\r\nNAXIS1  =                    2\r\n"
                           "NAXIS2  =                    1\r\nNAXIS3  =                    1\r\n",
                           *dir_ / "wide.fit")
                    .ok());
        QVERIFY(orlix::SaveSettings({0.01, 1, 1, 8, 8, false}).ok());
        auto dialog = std::make_unique<ScriptedDialog>();
        ScriptedDialog* scripted = dialog.get();
        frmFITS window(*app_, std::move(dialog));  // the real message boxes
        window.show();
        const struct {
            const char* button;
            std::string pick;
            QMessageBox::Icon icon;
            std::vector<std::string> shown;
        } cases[] = {
            {"cmdConvert",
             dir_->path() + '\0' + "bad.spe" + '\0' + "good.spe",
             QMessageBox::Warning,
             {"bad.spe", "Converted 1 of 2 files."}},
            {"cmdSaveFile", *dir_ / "missing/h.txt", QMessageBox::Warning, {"missing/h.txt"}},
            {"cmdDisplay",
             *dir_ / "wide.fit",
             QMessageBox::Warning,
             {"wide.fit: the file is shorter than its header's"}},
            {"cmdRun", "", QMessageBox::Information, {"The FITS file was written to", ".fit"}},
        };
        for (const auto& c : cases) {
            if (!c.pick.empty()) scripted->results.push_back(c.pick);
            auto* button = window.findChild<QPushButton*>(c.button);
            auto seen = AnswerBoxes([&] { QTest::mouseClick(button, Qt::LeftButton); });
            QVERIFY2(seen.size() == 1, c.button);
            QCOMPARE(seen[0].icon, c.icon);
            // Over the middle of the window, not wherever the window system puts it.
            const QPoint off = seen[0].centre - window.frameGeometry().center();
            QVERIFY2(off.manhattanLength() < 20, c.button);
            for (const auto& part : c.shown)
                QVERIFY2(seen[0].text.contains(QString::fromStdString(part)),
                         qPrintable(seen[0].text));
            // Every line of a failure names a file.
            if (c.icon == QMessageBox::Warning)
                for (const QString& line : seen[0].text.split('\n', Qt::SkipEmptyParts))
                    QVERIFY2(line.endsWith(':') || line.startsWith("Converted") ||
                                 line.contains(QString::fromStdString(dir_->path())),
                             qPrintable(line));
        }
    }

    void runExperimentKeepsPaintingAndCancels() {
        QVERIFY(orlix::SaveSettings({0.5, 4, 1, 16, 8, false}).ok());  // a 2 s acquisition
        int ticks = 0, paints = 0;
        bool cancelled = false;
        PaintCounter counter(paints);
        W<QLabel>("lblFormat")->installEventFilter(&counter);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            ++ticks;
            W<QLabel>("lblFormat")->update();
            auto* progress = window_->findChild<QProgressDialog*>("acquisitionProgress");
            if (!cancelled && progress && progress->isVisible() && ticks > 20) {
                cancelled = true;
                QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
            }
        });
        poll.start(20);
        QElapsedTimer clock;
        clock.start();
        Click("cmdRun");
        poll.stop();
        QVERIFY(cancelled);
        QVERIFY2(clock.elapsed() < 1900, "Cancel ends the wait");
        QVERIFY2(paints > 5, std::to_string(paints).c_str());  // blocked, it would be 0
        QVERIFY(app_->KeptDocuments().empty());                // nothing acquired
        QVERIFY(!std::filesystem::exists(orlix::DataFolder()) ||
                std::filesystem::is_empty(orlix::DataFolder()));
        QCOMPARE(messages_.size(), std::size_t(1));
        QVERIFY(messages_[0].find("Cancelled") != std::string::npos);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // Closing the window while Run Experiment acquires asks; "no" keeps both going, "yes"
    // cancels the acquisition (nothing written) and closes the window.
    void closingDuringRunExperimentAsks() {
        // A viewer open beforehand stays while the question is asked and after "no".
        orlix::ViewerHost host(*app_);
        host.CloseWith(window_.get());
        ConvertSample("image_uint16_30x20x2.spe", "im");
        dialog_->results.push_back(*dir_ / "im.fit");
        Click("cmdDisplay");
        QWidget* viewer = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<orlix::DocumentViewer*>(w) && w->isVisible()) viewer = w;
        QVERIFY(viewer);
        bool viewer_kept = true;
        QVERIFY(orlix::SaveSettings({0.5, 4, 1, 16, 8, false}).ok());  // a 2 s acquisition
        std::vector<std::string> asked;
        std::vector<bool> answers = {false, true};
        window_->ask = [&](const std::string& question) {
            asked.push_back(question);
            viewer_kept = viewer_kept && viewer->isVisible();
            const bool yes = answers[asked.size() - 1];
            return yes;
        };
        int ticks = 0;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* progress = window_->findChild<QProgressDialog*>("acquisitionProgress");
            if (!progress || !progress->isVisible()) return;
            if (++ticks == 5 || ticks == 10) window_->close();  // the window's close button
        });
        poll.start(20);
        const std::size_t kept = app_->KeptDocuments().size();  // the display's document
        QElapsedTimer clock;
        clock.start();
        Click("cmdRun");
        poll.stop();
        QCOMPARE(asked.size(), std::size_t(2));
        QVERIFY(asked[0].find("Cancel it and close the window?") != std::string::npos);
        QVERIFY2(clock.elapsed() < 1900, "yes cancels the acquisition");
        QCOMPARE(app_->KeptDocuments().size(), kept);  // nothing acquired, nothing written
        QTRY_VERIFY(!window_->isVisible());
        QVERIFY(viewer_kept);           // open while asked, both times
        QVERIFY(!viewer->isVisible());  // closed with the window
        QVERIFY(messages_.empty());
    }

    void displayDialogOffersFitsExtensions() {
        std::string seen_default;
        QStringList seen_filters;
        frmFITS window(*app_, std::make_unique<QtFileDialog>());
        window.show();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) {
                    seen_filters = d->nameFilters();
                    seen_default = d->selectedNameFilter().toStdString();
                    d->reject();
                }
        });
        poll.start(20);
        QTest::mouseClick(window.findChild<QPushButton*>("cmdDisplay"), Qt::LeftButton);
        poll.stop();
        QCOMPARE(seen_filters,
                 QStringList({"FITS Files (*.fit)", "FITS Files (*.fit *.fits *.fts *.fz)",
                              "All Files (*)"}));
        QCOMPARE(seen_default, std::string("FITS Files (*.fit)"));
    }

    // The window keeps the user's work: a display replaces the header as one step of its
    // undo (Ctrl+Z brings it back) and a failed display leaves it as it was; dialogs are titled
    // by their command; messages say "truncated" and "not a FITS file"; SPE files dropped on
    // the window are converted, FITS files displayed.
    void windowKeepsTheUsersWorkAndSays() {
        ConvertSample("image_uint16_30x20x2.spe", "im");
        QCOMPARE(dialog_->Title(), std::string("Convert SPE Files"));
        std::filesystem::remove(*dir_ / "im.spe");
        Custom();
        const std::string mine = kPrimary8 + "NAXIS   =                    0\r\n";
        fits::SetHeaderText(*window_, mine);
        // A cut SPE file, and an SPE file picked in Display.
        std::string cut = ReadAll(testing_support::Sample("image_uint16_30x20x2.spe"));
        cut.resize(3500);
        std::ofstream(*dir_ / "cut.spe", std::ios::binary) << cut;
        std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                   *dir_ / "spe.fit");
        const struct {
            const char* button;
            std::string file;
            std::string title;
            std::string said;  // "" : no message
            bool replaced;     // the header box shows the file's header afterwards
        } cases[] = {
            {"cmdDisplay", *dir_ / "spe.fit", "Display FITS File",
             "spe.fit: not a FITS file (its first", false},
            {"cmdConvert", *dir_ / "cut.spe", "Convert SPE Files",
             "cut.spe: truncated: the file ends at byte 3500", false},
            {"cmdAddFile", *dir_ / "none.txt", "Add FITS File Header", "none.txt: cannot open",
             false},
            {"cmdSaveFile", *dir_ / "h.txt", "Save Header to File", "", false},
            {"cmdDisplay", *dir_ / "im.fit", "Display FITS File", "", true},
        };
        for (const auto& c : cases) {
            messages_.clear();
            dialog_->results.push_back(c.file);
            Click(c.button);
            QCOMPARE(dialog_->Title(), c.title);
            QCOMPARE(messages_.empty(), c.said.empty());
            if (!c.said.empty()) {
                QVERIFY2(messages_[0].find(c.said) != std::string::npos, messages_[0].c_str());
            }
            QCOMPARE(Text() != mine, c.replaced);
        }
        QCOMPARE(GetValue(GetLine(Text(), 2)), std::string("32"));
        Header()->setFocus();
        QTest::keyClick(window_.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Text(), mine);  // Ctrl+Z: the header the user had
        // A long header-source path is cut in its middle; the tooltip holds it whole.
        Standard();
        const QString path =
            QString::fromStdString(dir_->path() + "/" + std::string(120, 'f') + "/site-header.txt");
        W<QLineEdit>("txtAddFile")->setText(path);
        auto* format = W<QLabel>("lblFormat");
        QVERIFY(format->text().endsWith("site-header.txt"));
        QVERIFY(format->text().contains(QChar(0x2026)));
        QCOMPARE(format->toolTip(), path);
        W<QLineEdit>("txtAddFile")->clear();
        // Files dropped on the window: SPE files converted, FITS files displayed.
        std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                   *dir_ / "dropped.spe");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir_->path() + "/dropped.spe"))});
        const QPoint at = window_->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &drop);
        QTRY_VERIFY(std::filesystem::exists(dir_->path() + "/dropped.fit"));
        messages_.clear();
        window_->OpenFiles({dir_->path() + "/dropped.fit"});  // as the desktop's "Open with" does
        QVERIFY2(messages_.empty(), messages_.empty() ? "" : messages_[0].c_str());
        QCOMPARE(GetValue(GetLine(Text(), 4)), std::string("1340"));
    }

    void viewersCloseWithTheWindowAndOpenOncePerFile() {
        orlix::ViewerHost host(*app_);
        host.CloseWith(window_.get());
        ConvertSample("image_uint16_30x20x2.spe", "im");
        for (int i = 0; i < 2; ++i) {
            dialog_->results.push_back(*dir_ / "im.fit");
            Click("cmdDisplay");
        }
        QCOMPARE(host.Count(), std::size_t(1));  // the second display reused the viewer
        QWidget* viewer = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<orlix::DocumentViewer*>(w) && w->isVisible()) viewer = w;
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowActive(viewer));
        // A minimized viewer comes back when its file is displayed again.
        viewer->setWindowState(Qt::WindowMinimized);
        dialog_->results.push_back(*dir_ / "im.fit");
        Click("cmdDisplay");
        QVERIFY(!(viewer->windowState() & Qt::WindowMinimized));
        QCOMPARE(host.Count(), std::size_t(1));
        std::filesystem::last_write_time(
            *dir_ / "im.fit",
            std::filesystem::last_write_time(*dir_ / "im.fit") + std::chrono::seconds(5));
        dialog_->results.push_back(*dir_ / "im.fit");
        Click("cmdDisplay");
        QCOMPARE(host.Count(), std::size_t(2));  // a changed file is shown anew
        window_->close();
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));  // the program can end
    }

    // Under a real X server: FITS_SCREENSHOTS=folder writes the window and both kinds of viewer.
    // Typed into the real dialog: each full path names its own file, also where a file of the
    // same name lies in the dialog's folder; the chosen filter comes back with the names.
    void typedPathsAndFiltersInTheRealDialog() {
#if defined(__SANITIZE_ADDRESS__)
        // Qt's own dialog lists its folder on a thread of its own; under the sanitizers that
        // listing lands after the typed names and replaces them. The normal build runs it.
        QSKIP("drives Qt's own dialog at the normal build's speed");
#endif
        std::filesystem::create_directory(*dir_ / "B");
        for (const char* name : {"x.spe", "y.spe", "B/y.spe"})
            std::ofstream(*dir_ / name) << "x";
        const struct {
            QString typed;
            const char* filter;
            std::vector<std::string> picked;
            int index;
        } cases[] = {
            {"\"x.spe\" \"" + QString::fromStdString(*dir_ / "B/y.spe") + "\"",
             "Orlix Files (*.spe)",
             {*dir_ / "x.spe", *dir_ / "B/y.spe"},
             1},
            {"\"x.spe\" \"y.spe\"", "All Files (*)", {*dir_ / "x.spe", *dir_ / "y.spe"}, 2},
        };
        for (const auto& c : cases) {
            QtFileDialog dialog;
            dialog.SetInitialFolder(dir_->path());
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                QFileDialog* fd = nullptr;
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) fd = d;
                if (!fd) return;
                if (fd->selectedNameFilter() != c.filter) {
                    fd->selectNameFilter(c.filter);
                    return;
                }
                // Typed as a user types: once the folder is listed (x.spe, y.spe, B), so that
                // the listing, which may come later, does not replace the names.
                const auto* list = fd->findChild<QListView*>("listView");
                if (!list || list->model()->rowCount(list->rootIndex()) < 3) return;
                poll.stop();
                // The names as typed into the name box, then accepted as Return would (typed
                // keys may open the name completer's list, which takes the Return).
                fd->findChild<QLineEdit*>("fileNameEdit")->setText(c.typed);
                QMetaObject::invokeMethod(fd, "accept", Qt::QueuedConnection);
            });
            poll.start(50);
            // A dialog that is never accepted fails the case instead of hanging the test.
            QTimer::singleShot(20000, [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) d->reject();
            });
            QVERIFY(dialog.ShowOpen("Orlix Files (*.spe)|*.spe|All Files (*.*)|*.*", 0x281204));
            QCOMPARE(dialog.FilterIndex(), c.index);
            const std::vector<std::string> picked = ListPickedFiles(dialog);
            std::string got;
            for (const std::string& p : picked)
                got += p + "|";
            QVERIFY2(picked == c.picked, got.c_str());
        }
    }

    // Add FITS File Header in Custom mode says at once, with the line and the reason, what
    // FITS readers would refuse, and adds nothing of such a file.
    void headerFileRefusedWhenLoaded() {
        const struct {
            std::string cards;
            std::string said;  // empty: taken in without a word
        } cases[] = {
            {"OBSERVER= 'me'\r\n", ""},
            {"OBSERVER= 'me'\r\nX       = 'open\r\n", "header line 2 (X) has a string value"},
            {"BSCALE  = 'two'\r\n", "(BSCALE) must have a number"},
            {"OBSERVER= 'me'\r\nOBSERVER= 'you'\r\n", "(OBSERVER)"},
        };
        Custom();
        for (const auto& c : cases) {
            Click("cmdClear");
            std::ofstream(*dir_ / "cards.txt", std::ios::binary) << c.cards;
            dialog_->results.push_back(*dir_ / "cards.txt");
            messages_.clear();
            Click("cmdAddFile");
            QCOMPARE(Text().empty(), !c.said.empty());
            QCOMPARE(messages_.size(), std::size_t(c.said.empty() ? 0 : 1));
            if (!c.said.empty())
                QVERIFY2(messages_[0].find(c.said) != std::string::npos, messages_[0].c_str());
        }
    }

    // Success is said in the status line, without a box; a failure keeps its box and clears
    // the line.
    void successSaidInTheStatusLine() {
        auto* status = window_->findChild<QLabel*>("lblStatus");
        QVERIFY(status);
        for (const char* name : {"a.spe", "b.spe", "c.spe"})
            std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                       *dir_ / name);
        const struct {
            std::function<void()> action;
            QString said;
        } cases[] = {
            {[&] {
                 dialog_->results.push_back(dir_->path() + '\0' + "a.spe" + '\0' + "b.spe");
                 Click("cmdConvert");
             },
             QString::fromStdString("2 files converted into " + dir_->path())},
            {[&] { window_->OpenFiles({*dir_ / "c.spe"}); },
             QString::fromStdString("1 file converted into " + dir_->path())},
            {[&] {
                 dialog_->results.push_back(*dir_ / "a.fit");
                 Click("cmdDisplay");
             },
             QString::fromStdString(*dir_ / "a.fit displayed as " + *dir_ / "a-2.spe")},
        };
        for (const auto& c : cases) {
            messages_.clear();
            c.action();
            QVERIFY2(messages_.empty(), messages_.empty() ? "" : messages_[0].c_str());
            QCOMPARE(status->text(), c.said);
        }
        std::ofstream(*dir_ / "bad.spe") << "x";
        dialog_->results.push_back(*dir_ / "bad.spe");
        Click("cmdConvert");
        QCOMPARE(messages_.size(), std::size_t(1));
        QVERIFY(status->text().isEmpty());
    }

    // The choices of the Standard option's context menu show in the caption beside it.
    void standardChoicesShowInTheCaption() {
        const std::pair<const char*, QString> cases[] = {
            {"actMetadata", "Primary Data + Orlix/32 Data; metadata"},
            {"actBzero", "Primary Data + Orlix/32 Data; metadata, BZERO"},
            {"actMetadata", "Primary Data + Orlix/32 Data; BZERO"},
            {"actCompress", "Primary Data + Orlix/32 Data; BZERO, compressed"},
            {"actRegions", "Primary Data + Orlix/32 Data; BZERO, regions, compressed"},
        };
        for (const auto& [action, caption] : cases) {
            W<QRadioButton>("optStandard")->findChild<QAction*>(action)->trigger();
            QCOMPARE(W<QLabel>("lblFormat")->text(), caption);
        }
        Custom();
        QCOMPARE(W<QLabel>("lblFormat")->text(), QString("Use header shown above"));
    }

    // The window grows, the header box taking the room; Ctrl+Shift+Z redoes what Ctrl+Z undid.
    void windowGrowsAndRedoes() {
        const QSize base = window_->size();
        QVERIFY(window_->maximumSize().width() > base.width());
        const QRect header = Header()->geometry(), button = W<QWidget>("cmdAddFile")->geometry();
        window_->resize(base + QSize(300, 200));
        QCOMPARE(Header()->geometry(), header.adjusted(0, 0, 300, 200));
        QCOMPARE(W<QWidget>("cmdAddFile")->geometry(), button.translated(0, 200));
        window_->resize(base);
        QCOMPARE(Header()->geometry(), header);

        Custom();
        Click("cmdAddPrimary");
        const std::string added = Text();
        QVERIFY(!added.empty());
        QTest::keyClick(window_.get(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(Text().empty());
        QTest::keyClick(window_.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Text(), added);
    }

    void screenshotsForDocs() {
        const char* out = std::getenv("FITS_SCREENSHOTS");
        if (!out) QSKIP("set FITS_SCREENSHOTS to a folder to write the screenshots");
        const std::string folder = out;
        orlix::ViewerHost host(*app_);
        // The window: a Standard header built from a sample, then Custom with a line chosen.
        std::filesystem::copy_file(testing_support::Sample("polystyrene_uint16_1340x1.spe"),
                                   *dir_ / "p.spe");
        dialog_->results.push_back(*dir_ / "p.spe");
        Click("cmdConvert");
        Custom();
        auto* nav = W<UpDown>("updHeaderLine");
        nav->setFocus();
        for (int i = 1; i < 6; ++i)
            QTest::keyClick(nav, Qt::Key_Up);
        QTest::qWait(50);
        QVERIFY(window_->grab().save(QString::fromStdString(folder + "/frmFITS.png")));

        // An acquired image shown through Display FITS File.
        QVERIFY(orlix::SaveSettings({0.01, 1, 6, 512, 512, false}).ok());
        Standard();
        Click("cmdRun");
        const std::string fit =
            ChangeExtension(app_->KeptDocuments().back()->file->Info().path, "fit");
        dialog_->results.push_back(fit);
        Click("cmdDisplay");
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<orlix::DocumentViewer*>(w); v && v->isVisible()) {
                v->resize(700, 500);
                const QRect whole = v->View()->DataRect();  // zoomed in between two stars
                const QPointF at = whole.topLeft() + QPointF(whole.width(), whole.height()) * 0.45;
                for (int notch = 0; notch < 3; ++notch) {
                    QWheelEvent wheel(at, v->View()->mapToGlobal(at), {}, QPoint(0, 120),
                                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                    QApplication::sendEvent(v->View(), &wheel);
                }
                QTest::qWait(50);
                QVERIFY(
                    v->grab().save(QString::fromStdString(folder + "/viewer-image.png"), "PNG", 0));
            }

        // A spectrum converted with its metadata and displayed: plotted against wavelength.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<orlix::DocumentViewer*>(w)) w->hide();
        W<QRadioButton>("optStandard")->findChild<QAction*>("actMetadata")->trigger();
        std::filesystem::copy_file(testing_support::Sample("hene_int32_1340x1.spe"),
                                   *dir_ / "hene.spe");
        dialog_->results.push_back(*dir_ / "hene.spe");
        Click("cmdConvert");
        dialog_->results.push_back(*dir_ / "hene.fit");
        Click("cmdDisplay");
        orlix::DocumentViewer* shown = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<orlix::DocumentViewer*>(w); v && v->isVisible()) shown = v;
        QVERIFY(shown);
        orlix::DocumentViewer& plot = *shown;
        plot.resize(700, 450);
        QTest::qWait(50);

        // Display's progress on a file that takes a while (frames stored slowly).
        QVERIFY(orlix::SpeFile::Create(*dir_ / "many.spe", 64, 64, 20, orlix::kSpeInt16));
        dialog_->results.push_back(*dir_ / "many.spe");
        Click("cmdConvert");
        SlowFactory slow(*app_, 0, 100);
        auto scripted = std::make_unique<ScriptedDialog>();
        scripted->results.push_back(*dir_ / "many.fit");
        ScriptedDialog* pick = scripted.get();
        frmFITS busy(slow, std::move(scripted));
        busy.show_message = [](const std::string&, const std::string&) {};
        busy.show();
        bool grabbed = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* progress = busy.findChild<QProgressDialog*>("workProgress");
            if (grabbed || !progress || !progress->isVisible() || progress->value() < 300) return;
            grabbed =
                progress->grab().save(QString::fromStdString(folder + "/display-progress.png"));
            progress->cancel();
        });
        poll.start(20);
        QTest::mouseClick(busy.findChild<QPushButton*>("cmdDisplay"), Qt::LeftButton);
        poll.stop();
        QVERIFY(grabbed && pick->results.empty());
        QVERIFY(plot.grab().save(QString::fromStdString(folder + "/viewer-plot.png")));
    }
};

QTEST_MAIN(FrmFitsTest)
#include "frm_fits_test.moc"
