// The acquisition application's viewer window for a document it shows: the frame as a
// grey-scale image with square pixels, its grey scale spread between the 0.5th and 99.5th
// percentiles so that a few outliers do not wash it out, zoomed with the mouse wheel and
// panned by dragging, with a bar showing the values at black and white (one-row data: a plot
// with axes, zoomed with the mouse wheel, saved as PNG or CSV); a frame selector, and the
// value under the mouse.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "fits/automation/frame.h"
#include "orlix/application.h"

class QAction;
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
    // per column: the plot's axis is the pixel number). A frame of the shape shown before
    // keeps the zoom and the part shown.
    void SetFrame(const fits::Frame& frame, std::vector<double> wavelengths = {});
    const fits::Frame& CurrentFrame() const { return frame_; }
    const std::vector<double>& Wavelengths() const { return wavelengths_; }
    bool IsPlot() const { return frame_.Rows() == 1; }
    // The values shown black and white (GreyRange of an image's frame).
    std::pair<double, double> GreyLimits() const { return grey_; }
    // Text for the sample under a widget position, or "" outside the data.
    QString ValueAt(QPoint position) const;
    // Where the data are drawn: the whole image (square pixels; centred in the view when it
    // fits, else reaching beyond the view's edges by zoom and pan) or the plot's axes box.
    QRect DataRect() const;
    // Shows the whole image or row again.
    void ZoomToFit();
    // The grey level (0-255) the image shows for sample (c, r).
    int GreyAt(std::int64_t c, std::int64_t r) const;
    // The samples a plot shows, first and last (from 0).
    std::pair<std::int64_t, std::int64_t> PlotRange() const { return {first_, last_}; }

  signals:
    void Hovered(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    double AxisValue(std::int64_t column) const;  // wavelength, or pixel number from 1
    std::int64_t SampleAtX(int x) const;
    void PaintPlot(QPainter& painter) const;
    QRect ImageArea() const;  // the view less its margin
    double FitScale() const;  // view pixels per sample of the whole image in ImageArea
    void ZoomImage(double factor, QPointF about);
    void KeepImageInView();

    fits::Frame frame_;
    std::vector<double> wavelengths_;
    QImage image_;
    std::pair<double, double> grey_{0, 0};
    std::int64_t first_ = 0, last_ = 0;
    // The image's zoom over the whole-image scale (1: the whole image fits), and the point
    // of the image, in samples from its top-left corner, shown at the centre of ImageArea.
    double zoom_ = 1;
    QPointF centre_;
    // A drag in progress: where it began and the centre then.
    bool dragging_ = false;
    QPointF drag_from_, drag_centre_;
};

// The grey scale beside an image: the gradient from white (top) to black, labelled with the
// values shown white and black.
class GreyBar : public QWidget {
    Q_OBJECT
  public:
    explicit GreyBar(QWidget* parent = nullptr);
    void SetRange(double black, double white);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* white_;
    QLabel* black_;
};

// What the viewer asks of the user when saving, behind a seam so that tests answer: the path
// to save to ("" when cancelled), and the message after a failure.
struct SaveDialogs {
    std::function<QString(QWidget* parent, const QString& title, const QString& suggested,
                          const QString& filter)>
        ask_path;
    std::function<void(QWidget* parent, const QString& title, const QString& text)> tell;
};
// The Qt file dialog and message box.
SaveDialogs QtSaveDialogs();

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
    void SetSaveDialogs(SaveDialogs dialogs) { dialogs_ = std::move(dialogs); }

  private:
    void Follow();
    // The plot as drawn, as PNG; the spectrum as CSV.
    void SavePlot();
    void SaveSpectrum();
    QString SuggestedPath(const char* extension) const;
    void Save(const QString& title, const QString& filter, const char* extension,
              const std::function<QByteArray()>& bytes);

    std::shared_ptr<DocumentState> document_;
    QSpinBox* frame_selector_;
    QLabel* value_label_;
    FrameView* view_;
    GreyBar* grey_bar_;
    QAction* save_plot_;
    QAction* save_spectrum_;
    SaveDialogs dialogs_ = QtSaveDialogs();
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
