// The acquisition application's viewer: a document it creates opens in a window showing the
// frame, with a frame selector and the value under the mouse.
#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

#include "orlix/viewer/document_viewer.h"
#include "test_support.h"

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
        fits::Frame frame(fits::ElementType::Int16, 4, 3);
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
        QCOMPARE(viewer->windowTitle(), QString("shown.spe"));
        QCOMPARE(viewer->findChild<QSpinBox*>("frameSelector")->maximum(), 2);
        orlix::FrameView* view = viewer->View();
        view->resize(408, 308);  // 400 x 300 of data inside a 4-pixel margin
        QCOMPARE(view->ValueAt(QPoint(4 + 350, 4 + 250)), QString("(3, 2) = 203"));
        QCOMPARE(view->ValueAt(QPoint(4 + 10, 4 + 10)), QString("(0, 0) = 0"));
        QVERIFY(view->ValueAt(QPoint(0, 0)).isEmpty());
        const QPoint inside(view->width() / 2, view->height() / 2);
        QTest::mouseMove(view, inside);
        const QString shown = viewer->findChild<QLabel*>("valueLabel")->text();
        QVERIFY(shown.startsWith("("));
        QCOMPARE(shown, view->ValueAt(inside));
        viewer->findChild<QSpinBox*>("frameSelector")->setValue(2);
        QCOMPARE(view->CurrentFrame().At(3, 2), 0.0);  // frame 2 was never stored
    }
};

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
