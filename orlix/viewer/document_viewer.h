// The acquisition application's viewer window for a document it shows: the frame as a
// grey-scale image between its minimum and maximum (a plot for one-row data), a frame
// selector, and the value under the mouse.
#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "fits/automation/frame.h"
#include "orlix/application.h"

class QLabel;
class QSpinBox;

namespace orlix {

class FrameView : public QWidget {
    Q_OBJECT
  public:
    explicit FrameView(QWidget* parent = nullptr);
    void SetFrame(const fits::Frame& frame);
    const fits::Frame& CurrentFrame() const { return frame_; }
    // Text for the sample under a widget position, or "" outside the data.
    QString ValueAt(QPoint position) const;

  signals:
    void Hovered(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    QRect ImageRect() const;
    fits::Frame frame_;
    QImage image_;
    double minimum_ = 0, maximum_ = 0;
};

class DocumentViewer : public QWidget {
    Q_OBJECT
  public:
    explicit DocumentViewer(std::shared_ptr<DocumentState> document, QWidget* parent = nullptr);
    // Reads the selected frame again (after the document changed).
    void Reload();
    FrameView* View() { return view_; }

  private:
    std::shared_ptr<DocumentState> document_;
    QSpinBox* frame_selector_;
    QLabel* value_label_;
    FrameView* view_;
};

// Connects an application's show hook to viewer windows, one per document.
class ViewerHost {
  public:
    explicit ViewerHost(Application& app);
    ~ViewerHost();
    std::size_t Count() const { return viewers_.size(); }

  private:
    std::map<DocumentState*, std::unique_ptr<DocumentViewer>> viewers_;
};

}  // namespace orlix
