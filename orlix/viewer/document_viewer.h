// The acquisition application's viewer window for a document it shows: the frame as a
// grey-scale image with square pixels, its grey scale spread between the 0.5th and 99.5th
// percentiles so that a few outliers do not wash it out (one-row data: a plot with axes,
// zoomed with the mouse wheel); a frame selector, and the raw value under the mouse.
#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

#include "fits/automation/frame.h"
#include "orlix/application.h"

class QLabel;
class QSpinBox;

namespace orlix {

// The sample values at the low and high grey-scale percentiles, ignoring values that are
// not finite; {0, 0} for a frame without finite values.
std::pair<double, double> GreyRange(const fits::Frame& frame);

class FrameView : public QWidget {
    Q_OBJECT
  public:
    explicit FrameView(QWidget* parent = nullptr);
    // The frame, and for one-row data the wavelength in nm of each column (empty, or not one
    // per column: the plot's axis is the pixel number).
    void SetFrame(const fits::Frame& frame, std::vector<double> wavelengths = {});
    const fits::Frame& CurrentFrame() const { return frame_; }
    // Text for the sample under a widget position, or "" outside the data.
    QString ValueAt(QPoint position) const;
    // Where the data are drawn: the image (square pixels, centred) or the plot's axes box.
    QRect DataRect() const;
    // The grey level (0-255) the image shows for sample (c, r).
    int GreyAt(std::int64_t c, std::int64_t r) const;
    // The samples a plot shows, first and last (from 0).
    std::pair<std::int64_t, std::int64_t> PlotRange() const { return {first_, last_}; }

  signals:
    void Hovered(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    bool IsPlot() const { return frame_.Rows() == 1; }
    double AxisValue(std::int64_t column) const;  // wavelength, or pixel number from 1
    std::int64_t SampleAtX(int x) const;
    void PaintPlot(QPainter& painter) const;

    fits::Frame frame_;
    std::vector<double> wavelengths_;
    QImage image_;
    std::int64_t first_ = 0, last_ = 0;
};

class DocumentViewer : public QWidget {
    Q_OBJECT
  public:
    explicit DocumentViewer(std::shared_ptr<DocumentState> document, QWidget* parent = nullptr);
    // Reads the selected frame again.
    void Reload();
    // After the document changed: the frame selector follows its frame count, and the selected
    // frame is read again when it was written since the viewer last read it.
    void Refresh();
    // Shows another document in this window.
    void SetDocument(std::shared_ptr<DocumentState> document);
    const std::shared_ptr<DocumentState>& Document() const { return document_; }
    FrameView* View() { return view_; }

  private:
    void Follow();

    std::shared_ptr<DocumentState> document_;
    QSpinBox* frame_selector_;
    QLabel* value_label_;
    FrameView* view_;
};

// Connects an application's show hook to viewer windows, one per data file: showing a file
// that a viewer already shows brings that viewer to the front; a document the application
// closes takes its viewer with it.
class ViewerHost : public QObject {
    Q_OBJECT
  public:
    explicit ViewerHost(Application& app);
    ~ViewerHost() override;
    std::size_t Count() const { return viewers_.size(); }
    // The viewers close when `owner` (the program's main window) closes, so that closing it
    // ends the program.
    void CloseWith(QWidget* owner);
    void CloseAll();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Show(const std::shared_ptr<DocumentState>& state);
    void Forget(const std::shared_ptr<DocumentState>& state);

    QPointer<QWidget> owner_;
    std::vector<std::unique_ptr<DocumentViewer>> viewers_;
};

}  // namespace orlix
