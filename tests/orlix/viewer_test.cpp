// The acquisition application's viewer: a document it creates opens in a window showing the
// frame, with a frame selector and the value under the mouse.
#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>
#include <clocale>
#include <cmath>
#include <fstream>
#include <limits>

#include "orlix/viewer/document_viewer.h"
#include "orlix/viewer/spectrum_export.h"
#include "test_support.h"

namespace {

// Turns the wheel away from the user by `notches` notches, one event each.
void Wheel(QWidget* view, QPointF at, int notches) {
    for (int i = 0; i < notches; ++i) {
        QWheelEvent wheel(at, view->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
    }
}

}  // namespace

class ViewerTest : public QObject {
    Q_OBJECT
  private slots:
    void createdDocumentIsShownWithValues() {
        testing_support::TempDir dir;
        orlix::Application app;
        orlix::ViewerHost host(app);
        auto doc = app.NewDataDocument();
        QVERIFY(doc->Open("", 4, 3, 2, 1, dir / "shown.spe").ok());
        QCOMPARE(host.Count(), std::size_t(0));  // no empty window before the first frame
        fits::Frame frame(fits::ElementType::kInt16, 4, 3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                frame.Set(c, r, 100 * r + c);
        QVERIFY(doc->PutFrame(1, frame).ok());
        QVERIFY(doc->Refresh().ok());
        QVERIFY(doc->Refresh().ok());
        QCOMPARE(host.Count(), std::size_t(1));  // one window, reloaded
        auto* viewer =
            qobject_cast<orlix::DocumentViewer*>(QApplication::topLevelWidgets().front());
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<orlix::DocumentViewer*>(w)) viewer = v;
        QVERIFY(viewer);
        QCOMPARE(viewer->windowTitle(), QString::fromStdString("shown.spe (" + dir.path() + ")"));
        QCOMPARE(viewer->findChild<QSpinBox*>("frameSelector")->maximum(), 2);
        QCOMPARE(viewer->findChild<QLabel*>("greyWhite")->text(), QString("203"));
        QCOMPARE(viewer->findChild<QLabel*>("greyBlack")->text(), QString("0"));
        QVERIFY(!viewer->findChild<QToolButton*>("cmdSavePlot")->isVisible());
        orlix::FrameView* view = viewer->View();
        view->resize(408, 308);  // 400 x 300 of data inside a 4-pixel margin
        QCOMPARE(view->DataRect(), QRect(4, 4, 400, 300));
        QCOMPARE(view->ValueAt(QPoint(4 + 350, 4 + 250)), QString("(4, 3) = 203"));
        QCOMPARE(view->ValueAt(QPoint(4 + 10, 4 + 10)), QString("(1, 1) = 0"));
        QVERIFY(view->ValueAt(QPoint(0, 0)).isEmpty());
        const QPoint inside(view->width() / 2, view->height() / 2);
        QTest::mouseMove(view, inside);
        const QString shown = viewer->findChild<QLabel*>("valueLabel")->text();
        QVERIFY(shown.startsWith("("));
        QCOMPARE(shown, view->ValueAt(inside));
        viewer->findChild<QSpinBox*>("frameSelector")->setValue(2);
        QCOMPARE(view->CurrentFrame().At(3, 2), 0.0);  // frame 2 was never stored
        // A refresh reads the shown frame again only when it was stored since.
        viewer->findChild<QSpinBox*>("frameSelector")->setValue(1);
        frame.Set(3, 2, 999);
        QVERIFY(doc->PutFrame(2, frame).ok());
        QVERIFY(doc->Refresh().ok());
        QCOMPARE(view->CurrentFrame().At(3, 2), 203.0);
        QVERIFY(doc->PutFrame(1, frame).ok());
        QVERIFY(doc->Refresh().ok());
        QCOMPARE(view->CurrentFrame().At(3, 2), 999.0);
    }
    // The readout shows the values the document's data type holds, counted from (1, 1): an
    // unsigned 16-bit document's 40000 is 40000, not its signed bits.
    void readoutShowsTheDocumentsValues() {
        testing_support::TempDir dir;
        const struct {
            std::int32_t code;
            fits::ElementType element;
            double stored;
            QString shown, white, black;  // the readout, and the grey bar's ends
        } cases[] = {
            {6, fits::ElementType::kInt16, -25536, "(2, 1) = 40000", "40000", "0"},
            {1, fits::ElementType::kInt16, -2, "(2, 1) = -2", "0", "-2"},
            {3, fits::ElementType::kFloat32, 0.5, "(2, 1) = 0.5", "0.5", "0"},
            {7, fits::ElementType::kInt32, -2, "(2, 1) = 4.2949673e+09", "4.29497e+09", "0"},
        };
        for (const auto& c : cases) {
            orlix::Application app;
            orlix::ViewerHost host(app);
            auto doc = app.NewDataDocument();
            QVERIFY(doc->Open("", 2, 2, 1, c.code, dir / ("t" + std::to_string(c.code) + ".spe")));
            fits::Frame frame(c.element, 2, 2);
            frame.Set(1, 0, c.stored);
            QVERIFY(doc->PutFrame(1, frame).ok());
            QVERIFY(doc->Refresh().ok());
            orlix::DocumentViewer* viewer = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* v = qobject_cast<orlix::DocumentViewer*>(w); v && v->isVisible())
                    viewer = v;
            QVERIFY(viewer);
            orlix::FrameView* view = viewer->View();
            view->resize(408, 408);
            const QRect data = view->DataRect();
            QTest::mouseMove(view, data.center());  // the cursor is where the last case left it
            QTest::mouseMove(view, QPoint(data.right() - 2, data.top() + 2));
            QCOMPARE(viewer->findChild<QLabel*>("valueLabel")->text(), c.shown);
            QCOMPARE(viewer->findChild<QLabel*>("greyWhite")->text(), c.white);
            QCOMPARE(viewer->findChild<QLabel*>("greyBlack")->text(), c.black);
        }
    }

    void imagesKeepSquarePixels() {
        const struct {
            int columns, rows, width, height;
        } cases[] = {{512, 512, 618, 428}, {30, 20, 700, 300}, {8, 64, 300, 300}};
        for (const auto& c : cases) {
            orlix::FrameView view;
            fits::Frame frame(fits::ElementType::kInt16, c.columns, c.rows);
            frame.Set(c.columns - 1, c.rows - 1, 7);
            view.SetFrame(frame);
            view.resize(c.width, c.height);
            const QRect data = view.DataRect();
            const double sx = data.width() / double(c.columns), sy = data.height() / double(c.rows);
            QVERIFY2(std::abs(sx - sy) < 1.0 / std::min(c.columns, c.rows),
                     qPrintable(QString("%1 x %2").arg(sx).arg(sy)));
            QVERIFY(view.rect().contains(data));
            // Samples are found where the image is drawn; the bands beside it hold none.
            QCOMPARE(view.ValueAt(data.topLeft()), QString("(1, 1) = 0"));
            QCOMPARE(view.ValueAt(data.bottomRight())
                         .startsWith(QString("(%1, %2)").arg(c.columns).arg(c.rows)),
                     data.width() >= c.columns);
            const QPoint band = data.left() > 8 ? QPoint(data.left() - 3, data.center().y())
                                                : QPoint(data.center().x(), data.top() - 3);
            QVERIFY(view.ValueAt(band).isEmpty());
        }
    }

    void greyScaleIgnoresOutliers() {
        // 100 x 100 samples 0..999 (each ten times) and one hot pixel.
        fits::Frame frame(fits::ElementType::kInt32, 100, 100);
        for (int r = 0; r < 100; ++r)
            for (int c = 0; c < 100; ++c)
                frame.Set(c, r, (r * 100 + c) / 10);
        frame.Set(99, 99, 1000000);
        const auto [low, high] = orlix::GreyRange(frame);
        QVERIFY(low >= 0 && low <= 10);
        QVERIFY(high >= 990 && high <= 999);
        orlix::FrameView view;
        view.resize(408, 408);
        view.SetFrame(frame);
        QVERIFY(std::abs(view.GreyAt(0, 50) - 128) <= 3);  // 500: mid grey, not washed out
        QCOMPARE(view.GreyAt(99, 99), 255);
        QCOMPARE(view.GreyAt(0, 0), 0);
        const QRect data = view.DataRect();
        QTest::mouseMove(&view, data.bottomRight());
        QCOMPARE(view.ValueAt(data.bottomRight()), QString("(100, 100) = 1000000"));
    }

    void oneRowPlotsAgainstPixelOrWavelength() {
        testing_support::TempDir dir;
        const struct {
            std::string file;       // a sample, or a created file without calibration
            QString axis_at_first;  // the hover text at the plot's left edge
        } cases[] = {
            {testing_support::Sample("hene_int32_1340x1.spe"), "pixel 1 = 5651 at 780.88 nm"},
            {dir / "row.spe", "pixel 1 = 0"},
        };
        QVERIFY(orlix::SpeFile::Create(dir / "row.spe", 700, 1, 1, orlix::kSpeUInt16).ok());
        for (const auto& c : cases) {
            auto state = std::make_shared<orlix::DocumentState>();
            auto file = orlix::SpeFile::Open(c.file);
            QVERIFY(file.ok());
            state->file = std::move(file.value());
            orlix::DocumentViewer viewer(state);
            viewer.show();
            orlix::FrameView* view = viewer.View();
            const QRect plot = view->DataRect();
            QVERIFY(plot.left() > 20 && view->height() - plot.bottom() > 20);  // room for axes
            QTest::mouseMove(view, QPoint(plot.left(), plot.center().y()));
            QCOMPARE(viewer.findChild<QLabel*>("valueLabel")->text(), c.axis_at_first);
            // The wheel zooms about the mouse; a double click shows the whole row again.
            const auto whole = view->PlotRange();
            const QPointF at = plot.center();
            Wheel(view, at, 5);
            const auto zoomed = view->PlotRange();
            QVERIFY(zoomed.second - zoomed.first < (whole.second - whole.first) / 2);
            QVERIFY(zoomed.first > whole.first && zoomed.second < whole.second);
            QTest::mouseDClick(view, Qt::LeftButton, {}, plot.center());
            QCOMPARE(view->PlotRange(), whole);
        }
    }

    // Zoomed by the wheel about the pointer and panned by dragging, the sample under the
    // pointer stays there: drawn there and named by the readout. A double click shows the
    // whole image again.
    void imageZoomsAndPansKeepingTheReadout() {
        fits::Frame frame(fits::ElementType::kInt32, 64, 64);  // neighbours differ in grey
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 64; ++c)
                frame.Set(c, r, (37 * c + 101 * r) % 256);
        orlix::FrameView view;
        view.resize(408, 408);
        view.SetFrame(frame);
        QString said;
        connect(&view, &orlix::FrameView::Hovered, [&](const QString& text) { said = text; });
        const QRect whole = view.DataRect();
        const QPoint at(257, 132);  // the middle of sample (41, 21), 6.25 pixels a sample
        auto sample_is_at = [&](QPoint p) {
            // Sent to the view: QTest moves the shared cursor when no button is down.
            QMouseEvent move(QEvent::MouseMove, p, view.mapToGlobal(p), Qt::NoButton, {}, {});
            QApplication::sendEvent(&view, &move);
            const QColor drawn = view.grab().toImage().pixelColor(p);
            return said == QString("(41, 21) = %1").arg(frame.At(40, 20)) &&
                   qGray(drawn.rgb()) == view.GreyAt(40, 20);
        };
        QVERIFY(sample_is_at(at));
        Wheel(&view, at, 3);
        QVERIFY(view.DataRect().width() > 3 * whole.width() / 2);
        QVERIFY(sample_is_at(at));
        const QPoint to = at + QPoint(-50, 30);
        QTest::mousePress(&view, Qt::LeftButton, {}, at);
        QTest::mouseMove(&view, to);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
        QVERIFY(sample_is_at(to));
        view.SetFrame(frame);  // a frame of the same shape keeps what is shown
        QVERIFY(sample_is_at(to));
        QTest::mouseDClick(&view, Qt::LeftButton, {}, to);
        QCOMPARE(view.DataRect(), whole);
    }

    // The spectrum as CSV: wavelengths or pixels from 1, each number as it reads back, also
    // under a comma-decimal locale.
    void spectrumCsvRows() {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        using enum fits::ElementType;
        const struct {
            fits::ElementType type;
            std::vector<double> values, nm;
            std::string csv;
        } cases[] = {
            {kFloat32,
             {0.1, nan, -2.5e-7},
             {500.25, 1e3, 656.2800000000001},
             "wavelength_nm,value\n500.25,0.1\n1000,nan\n656.2800000000001,-2.5e-07\n"},
            {kInt32, {7, -3, 2147483647}, {}, "pixel,value\n1,7\n2,-3\n3,2147483647\n"},
            {kInt16, {5, 6}, {400}, "pixel,value\n1,5\n2,6\n"},  // not one per pixel
        };
        const std::string saved = std::setlocale(LC_ALL, nullptr);
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8"));
        for (const auto& c : cases) {
            fits::Frame row(c.type, static_cast<std::int64_t>(c.values.size()), 1);
            for (std::size_t k = 0; k < c.values.size(); ++k)
                row.Set(static_cast<std::int64_t>(k), 0, c.values[k]);
            QCOMPARE(orlix::SpectrumCsv(row, c.nm), c.csv);
        }
        std::setlocale(LC_ALL, saved.c_str());
    }

    // A plot offers its PNG (the plot as drawn) and its CSV through the seam; an image does
    // not. A save that fails says the file and the reason.
    void plotSavesAsPngAndCsv() {
        testing_support::TempDir dir;
        auto state = std::make_shared<orlix::DocumentState>();
        state->file = std::move(
            orlix::SpeFile::Open(testing_support::Sample("hene_int32_1340x1.spe")).value());
        orlix::DocumentViewer viewer(state);
        viewer.show();
        QString path, told;
        viewer.SetSaveDialogs(
            {[&](QWidget*, const QString&, const QString&, const QString&) { return path; },
             [&](QWidget*, const QString&, const QString& text) { told = text; }});
        QVERIFY(!viewer.findChild<QWidget*>("greyBar")->isVisible());
        path = QString::fromStdString(dir / "plot");  // the extension is added
        QTest::mouseClick(viewer.findChild<QToolButton*>("cmdSavePlot"), Qt::LeftButton);
        QCOMPARE(QImage(path + ".png").size(), viewer.View()->size());
        path = QString::fromStdString(dir / "hene.csv");
        QTest::mouseClick(viewer.findChild<QToolButton*>("cmdSaveSpectrum"), Qt::LeftButton);
        std::ifstream csv(path.toStdString());
        const std::string text{std::istreambuf_iterator<char>(csv), {}};
        QVERIFY(text.starts_with("wavelength_nm,value\n780.8"));
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), 1341);
        QVERIFY(told.isEmpty());
        path = QString::fromStdString(dir / "none/hene.csv");
        QTest::mouseClick(viewer.findChild<QToolButton*>("cmdSaveSpectrum"), Qt::LeftButton);
        QVERIFY2(told.startsWith("Cannot write " + path + ": ") && told.contains("No such file"),
                 qPrintable(told));
    }

    void framesWithoutFiniteSpreadStillPaint() {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        const std::vector<std::vector<float>> rows = {{nan, inf, -inf, 1, 2},
                                                      {nan, nan, nan, nan, nan},
                                                      {5, 5, 5, 5, 5},
                                                      {3.4e38f, -3.4e38f, 0, 1, 2}};
        for (const auto& values : rows)
            for (int height : {1, 2}) {
                fits::Frame frame(fits::ElementType::kFloat32, 5, height);
                for (int r = 0; r < height; ++r)
                    for (int c = 0; c < 5; ++c)
                        frame.Set(c, r, values[static_cast<std::size_t>(c)]);
                orlix::FrameView view;
                view.resize(400, 300);
                view.SetFrame(frame);
                QVERIFY(!view.grab().isNull());  // painting ends
                if (height == 2 && std::isnan(values[0]))
                    QCOMPARE(view.GreyAt(0, 0), 0);  // not a number: black
                if (height == 2 && values[0] == 5)
                    QCOMPARE(view.GreyAt(4, 0), 128);  // one value: mid grey
            }
    }

    void showingTheSameFileAgainReusesItsViewer() {
        testing_support::TempDir dir;
        orlix::Application app;
        orlix::ViewerHost host(app);
        auto created = app.NewDataDocument();
        QVERIFY(created->Open("", 4, 3, 1, 1, dir / "same.spe").ok());
        QVERIFY(created->Refresh().ok());
        // The same file opened by another document and shown again: the one viewer.
        auto again = app.NewDataDocument();
        QVERIFY(again->Open(dir / "same.spe", 0, 0, 0, 0, "").ok());
        QVERIFY(again->Refresh().ok());
        QCOMPARE(host.Count(), std::size_t(1));
        auto doc = app.NewDataDocument();
        QVERIFY(doc->Open("", 4, 3, 1, 1, dir / "other.spe").ok());
        QVERIFY(doc->Refresh().ok());
        QCOMPARE(host.Count(), std::size_t(2));
        // A document closed by its creator (a display that failed) takes its viewer along.
        QVERIFY(doc->Close().ok());
        QCOMPARE(host.Count(), std::size_t(1));
    }
};

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
