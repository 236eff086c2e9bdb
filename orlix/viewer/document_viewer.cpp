#include "orlix/viewer/document_viewer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>

namespace orlix {

FrameView::FrameView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 240);
}

void FrameView::SetFrame(const fits::Frame& frame) {
    frame_ = frame;
    minimum_ = maximum_ = 0;
    if (frame_.Empty()) {
        image_ = QImage();
        update();
        return;
    }
    minimum_ = maximum_ = frame_.At(0, 0);
    for (std::int64_t r = 0; r < frame_.Rows(); ++r)
        for (std::int64_t c = 0; c < frame_.Columns(); ++c) {
            double v = frame_.At(c, r);
            minimum_ = std::min(minimum_, v), maximum_ = std::max(maximum_, v);
        }
    image_ = QImage(static_cast<int>(frame_.Columns()), static_cast<int>(frame_.Rows()),
                    QImage::Format_Grayscale8);
    const double span = maximum_ > minimum_ ? maximum_ - minimum_ : 1;
    for (std::int64_t r = 0; r < frame_.Rows(); ++r) {
        uchar* line = image_.scanLine(static_cast<int>(r));
        for (std::int64_t c = 0; c < frame_.Columns(); ++c)
            line[c] = static_cast<uchar>(std::lround(255 * (frame_.At(c, r) - minimum_) / span));
    }
    update();
}

QRect FrameView::ImageRect() const {
    return rect().adjusted(4, 4, -4, -4);
}

QString FrameView::ValueAt(QPoint position) const {
    QRect area = ImageRect();
    if (frame_.Empty() || !area.contains(position)) return {};
    auto c =
        static_cast<std::int64_t>((position.x() - area.left()) * frame_.Columns() / area.width());
    auto r = frame_.Rows() == 1 ? 0
                                : static_cast<std::int64_t>((position.y() - area.top()) *
                                                            frame_.Rows() / area.height());
    c = std::clamp<std::int64_t>(c, 0, frame_.Columns() - 1);
    r = std::clamp<std::int64_t>(r, 0, frame_.Rows() - 1);
    return QString("(%1, %2) = %3").arg(c).arg(r).arg(frame_.At(c, r), 0, 'g', 8);
}

void FrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (frame_.Empty()) return;
    QRect area = ImageRect();
    if (frame_.Rows() > 1) {
        painter.drawImage(area, image_);
        return;
    }
    // One row: a plot of the samples between the minimum and the maximum.
    const double span = maximum_ > minimum_ ? maximum_ - minimum_ : 1;
    QPainterPath path;
    for (std::int64_t c = 0; c < frame_.Columns(); ++c) {
        double x = area.left() + area.width() * (static_cast<double>(c) + 0.5) /
                                     static_cast<double>(frame_.Columns());
        double y = area.bottom() - area.height() * (frame_.At(c, 0) - minimum_) / span;
        if (c == 0)
            path.moveTo(x, y);
        else
            path.lineTo(x, y);
    }
    painter.setPen(QPen(Qt::green, 1));
    painter.drawPath(path);
}

void FrameView::mouseMoveEvent(QMouseEvent* event) {
    emit Hovered(ValueAt(event->pos()));
}

DocumentViewer::DocumentViewer(std::shared_ptr<DocumentState> document, QWidget* parent)
    : QWidget(parent), document_(std::move(document)) {
    setObjectName("documentViewer");
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout();
    frame_selector_ = new QSpinBox(this);
    frame_selector_->setObjectName("frameSelector");
    value_label_ = new QLabel(this);
    value_label_->setObjectName("valueLabel");
    bar->addWidget(new QLabel("Frame", this));
    bar->addWidget(frame_selector_);
    bar->addStretch();
    bar->addWidget(value_label_);
    view_ = new FrameView(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    connect(frame_selector_, &QSpinBox::valueChanged, this, [this] { Reload(); });
    connect(view_, &FrameView::Hovered, value_label_, &QLabel::setText);
    Reload();
    resize(640, 480);
}

void DocumentViewer::Reload() {
    if (!document_->file) return;
    const SpeInfo& info = document_->file->Info();
    setWindowTitle(QString::fromStdString(std::filesystem::path(info.path).filename().string()));
    frame_selector_->blockSignals(true);
    frame_selector_->setRange(1, static_cast<int>(std::min<std::int64_t>(info.frames, INT32_MAX)));
    frame_selector_->blockSignals(false);
    fits::Frame frame;
    if (document_->file->ReadFrame(frame_selector_->value() - 1, frame)) view_->SetFrame(frame);
}

ViewerHost::ViewerHost(Application& app) {
    app.SetShowHook([this](std::shared_ptr<DocumentState> state) {
        auto& viewer = viewers_[state.get()];
        if (!viewer) viewer = std::make_unique<DocumentViewer>(state);
        viewer->Reload();
        viewer->show();
    });
}

ViewerHost::~ViewerHost() = default;

}  // namespace orlix
