#include "orlix/viewer/document_viewer.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "orlix/viewer/spectrum_export.h"

namespace orlix {
namespace {

constexpr double kLowPercentile = 0.5, kHighPercentile = 99.5;
constexpr std::int64_t kGreySamples = std::int64_t{1} << 20;  // samples the percentiles use
constexpr int kMargin = 4;                                    // pixels around the data
constexpr std::int64_t kFewestShown = 8;                      // samples a zoomed plot still shows
constexpr double kZoomStep = 0.8;             // share of the range one wheel notch keeps
constexpr double kMostPixelsPerSample = 64;   // an image zooms in up to this
constexpr int kGreyBarWidth = 16;             // the gradient's width
constexpr int kTicks = 6;                     // about this many labelled ticks per axis
const QColor kBesideImage(0x50, 0x50, 0x50);  // the bands beside an image, set off from black

// The value at percentile p (0-100) of sorted-on-demand values (nearest rank).
double Percentile(std::vector<double>& values, double p) {
    const auto last = static_cast<double>(values.size() - 1);
    const auto k = static_cast<std::ptrdiff_t>(std::lround(last * p / 100));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[static_cast<std::size_t>(k)];
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about kTicks ticks over span.
double TickStep(double span) {
    if (!(span > 0) || !std::isfinite(span)) return 1;
    const double raw = span / kTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

// The multiples of step from low to high; a bounded count, also where step is below the
// numbers' precision (1e20 + 1e4 == 1e20).
std::vector<double> Ticks(double low, double high, double step) {
    std::vector<double> ticks;
    const double first = std::ceil(low / step);
    for (int k = 0; k <= 4 * kTicks; ++k) {
        const double v = (first + k) * step;
        if (!(v <= high) || (!ticks.empty() && v == ticks.back())) break;
        ticks.push_back(v);
    }
    return ticks;
}

// An unsigned 16-bit frame, whose elements hold the 16 bits in signed form, as 32-bit
// elements holding the values themselves.
fits::Frame Unsigned16(const fits::Frame& stored) {
    fits::Frame frame(fits::ElementType::kInt32, stored.Columns(), stored.Rows());
    auto in = stored.Elements<std::int16_t>();
    auto out = frame.Elements<std::int32_t>();
    for (std::size_t k = 0; k < in.size(); ++k)
        out[k] = static_cast<std::uint16_t>(in[k]);
    return frame;
}

// An unsigned 32-bit frame, whose elements hold the 32 bits in signed form, as 32-bit floats:
// no wider element type holds every value, and a float keeps each to 7 digits, never negative.
fits::Frame Unsigned32(const fits::Frame& stored) {
    fits::Frame frame(fits::ElementType::kFloat32, stored.Columns(), stored.Rows());
    auto in = stored.Elements<std::int32_t>();
    auto out = frame.Elements<float>();
    for (std::size_t k = 0; k < in.size(); ++k)
        out[k] = static_cast<float>(static_cast<std::uint32_t>(in[k]));
    return frame;
}

QString Number(double v) {
    return QString::number(v, 'g', 6);
}

}  // namespace

std::pair<double, double> GreyRange(const fits::Frame& frame) {
    // Beyond kGreySamples samples, an evenly spaced subset of about that many stands for the
    // frame: the grey scale needs its percentiles only roughly, and a 1 GiB frame then needs
    // no 2 GiB copy.
    const std::int64_t step = std::max<std::int64_t>(1, frame.Count() / kGreySamples);
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(frame.Count() / step + 1));
    for (std::int64_t k = 0; k < frame.Count(); k += step)
        if (double v = frame.At(k % frame.Columns(), k / frame.Columns()); std::isfinite(v))
            values.push_back(v);
    if (values.empty()) return {0, 0};
    const double low = Percentile(values, kLowPercentile);
    return {low, Percentile(values, kHighPercentile)};
}

FrameView::FrameView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 240);
}

void FrameView::SetFrame(const fits::Frame& frame, std::vector<double> wavelengths) {
    const bool same_shape =
        frame.Columns() == frame_.Columns() && frame.Rows() == frame_.Rows() && !frame.Empty();
    frame_ = frame;
    wavelengths_ = std::move(wavelengths);
    if (static_cast<std::int64_t>(wavelengths_.size()) != frame_.Columns()) wavelengths_.clear();
    if (!same_shape) ZoomToFit();
    image_ = QImage();
    grey_ = {0, 0};
    if (!frame_.Empty() && !IsPlot()) {
        grey_ = GreyRange(frame_);
        const auto [low, high] = grey_;
        // A frame of one value (a bias, a dark of zero) shows mid grey, not black.
        const double span = high > low ? high - low : 2;
        const double black = high > low ? low : low - 1;
        image_ = QImage(static_cast<int>(frame_.Columns()), static_cast<int>(frame_.Rows()),
                        QImage::Format_Grayscale8);
        for (std::int64_t r = 0; r < frame_.Rows(); ++r) {
            uchar* line = image_.scanLine(static_cast<int>(r));
            for (std::int64_t c = 0; c < frame_.Columns(); ++c) {
                const double v = frame_.At(c, r);
                const double level = std::isfinite(v) ? 255 * (v - black) / span : 0;
                line[c] = static_cast<uchar>(std::lround(std::clamp(level, 0.0, 255.0)));
            }
        }
    }
    update();
}

int FrameView::GreyAt(std::int64_t c, std::int64_t r) const {
    if (image_.isNull()) return 0;
    return qGray(image_.pixel(static_cast<int>(c), static_cast<int>(r)));
}

QRect FrameView::ImageArea() const {
    return rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
}

double FrameView::FitScale() const {
    const QRect area = ImageArea();
    return std::min(area.width() / static_cast<double>(frame_.Columns()),
                    area.height() / static_cast<double>(frame_.Rows()));
}

QRect FrameView::DataRect() const {
    const QRect area = ImageArea();
    if (IsPlot()) {
        const QFontMetrics fm = fontMetrics();
        // Room for the widest tick label and, beside it, the axis title turned upright.
        const int left = fm.horizontalAdvance("-8.88888e+88") + fm.height() + kMargin;
        const int bottom = 2 * fm.height() + kMargin;
        return area.adjusted(left, fm.height() / 2, -fm.horizontalAdvance("8888") / 2, -bottom);
    }
    if (frame_.Empty()) return area;
    // Square pixels: one scale for both directions, the image centred in the area, or when
    // zoomed, its point centre_ at the area's centre.
    const auto columns = static_cast<double>(frame_.Columns());
    const auto rows = static_cast<double>(frame_.Rows());
    const double scale = FitScale() * zoom_;
    const int w = std::max(1, static_cast<int>(std::lround(scale * columns)));
    const int h = std::max(1, static_cast<int>(std::lround(scale * rows)));
    if (zoom_ == 1)
        return {area.left() + (area.width() - w) / 2, area.top() + (area.height() - h) / 2, w, h};
    const QPointF middle(area.left() + area.width() / 2.0, area.top() + area.height() / 2.0);
    return {static_cast<int>(std::lround(middle.x() - centre_.x() * scale)),
            static_cast<int>(std::lround(middle.y() - centre_.y() * scale)), w, h};
}

void FrameView::ZoomToFit() {
    first_ = 0, last_ = std::max<std::int64_t>(0, frame_.Columns() - 1);
    zoom_ = 1;
    unsetCursor();
    centre_ =
        QPointF(static_cast<double>(frame_.Columns()) / 2, static_cast<double>(frame_.Rows()) / 2);
    update();
}

// Where the zoomed image is larger than the area it covers the area; where it is smaller it
// is centred.
void FrameView::KeepImageInView() {
    if (frame_.Empty() || IsPlot()) return;
    const QRect area = ImageArea();
    const double scale = FitScale() * zoom_;
    auto keep = [](double at, double samples, double half_shown) {
        return samples <= 2 * half_shown ? samples / 2
                                         : std::clamp(at, half_shown, samples - half_shown);
    };
    centre_ = QPointF(
        keep(centre_.x(), static_cast<double>(frame_.Columns()), area.width() / 2.0 / scale),
        keep(centre_.y(), static_cast<double>(frame_.Rows()), area.height() / 2.0 / scale));
}

// Zooms the image by `factor` (within the whole image and kMostPixelsPerSample) keeping the
// point under `about` where it is.
void FrameView::ZoomImage(double factor, QPointF about) {
    const double fit = FitScale();
    if (frame_.Empty() || IsPlot() || !(fit > 0)) return;
    double zoom = std::clamp(zoom_ * factor, 1.0, std::max(1.0, kMostPixelsPerSample / fit));
    if (zoom < 1.0001) zoom = 1;  // back to the whole image, not a hair beside it
    const QRect shown = DataRect();
    const QPointF at(
        (about.x() - shown.left()) * static_cast<double>(frame_.Columns()) / shown.width(),
        (about.y() - shown.top()) * static_cast<double>(frame_.Rows()) / shown.height());
    const QRect area = ImageArea();
    const QPointF middle(area.left() + area.width() / 2.0, area.top() + area.height() / 2.0);
    centre_ = at - (about - middle) / (fit * zoom);
    zoom_ = zoom;
    KeepImageInView();
    // An open hand says that a zoomed image can be dragged.
    if (zoom_ == 1)
        unsetCursor();
    else
        setCursor(Qt::OpenHandCursor);
    update();
}

double FrameView::AxisValue(std::int64_t column) const {
    if (wavelengths_.empty()) return static_cast<double>(column + 1);
    return wavelengths_[static_cast<std::size_t>(column)];
}

std::int64_t FrameView::SampleAtX(int x) const {
    const QRect area = DataRect();
    const double shown = static_cast<double>(last_ - first_ + 1);
    const auto s = first_ + static_cast<std::int64_t>(
                                std::floor((x - area.left()) * shown / std::max(1, area.width())));
    return std::clamp(s, first_, last_);
}

QString FrameView::ValueAt(QPoint position) const {
    const QRect area = DataRect();
    if (frame_.Empty() || !area.contains(position)) return {};
    if (!IsPlot() && !ImageArea().contains(position)) return {};  // in the margin
    if (IsPlot()) {
        // Numbered as the axis is: the first pixel is pixel 1.
        const std::int64_t c = SampleAtX(position.x());
        QString text = QString("pixel %1 = %2").arg(c + 1).arg(frame_.At(c, 0), 0, 'g', 8);
        if (!wavelengths_.empty()) text += QString(" at %1 nm").arg(AxisValue(c), 0, 'f', 2);
        return text;
    }
    auto c =
        static_cast<std::int64_t>((position.x() - area.left()) * frame_.Columns() / area.width());
    auto r = static_cast<std::int64_t>((position.y() - area.top()) * frame_.Rows() / area.height());
    c = std::clamp<std::int64_t>(c, 0, frame_.Columns() - 1);
    r = std::clamp<std::int64_t>(r, 0, frame_.Rows() - 1);
    // Counted from 1, as FITS tools and the plot count: (1, 1) is the first sample.
    return QString("(%1, %2) = %3").arg(c + 1).arg(r + 1).arg(frame_.At(c, r), 0, 'g', 8);
}

void FrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (IsPlot()) {
        painter.fillRect(rect(), palette().color(QPalette::Base));
        if (!frame_.Empty()) PaintPlot(painter);
        return;
    }
    painter.fillRect(rect(), kBesideImage);
    painter.setClipRect(ImageArea());
    if (!image_.isNull()) painter.drawImage(DataRect(), image_);
}

// The visible samples as a line between their minimum and maximum, in an axes box with
// labelled ticks: the value upwards, the pixel number or the wavelength across.
void FrameView::PaintPlot(QPainter& painter) const {
    const QRect area = DataRect();
    double low = INFINITY, high = -INFINITY;
    for (std::int64_t c = first_; c <= last_; ++c)
        if (double v = frame_.At(c, 0); std::isfinite(v))
            low = std::min(low, v), high = std::max(high, v);
    if (!(low <= high)) low = 0, high = 1;
    if (high == low) low -= 1, high += 1;
    // A margin above and below, so that the highest peak and a flat row stay off the frame.
    const double margin = (high - low) / 20;
    low -= margin, high += margin;
    const double shown = static_cast<double>(last_ - first_ + 1);
    auto x_of = [&](double c) {
        return area.left() + area.width() * (c - static_cast<double>(first_) + 0.5) / shown;
    };
    auto y_of = [&](double v) { return area.bottom() - area.height() * (v - low) / (high - low); };

    const QFontMetrics fm = fontMetrics();
    painter.setPen(palette().color(QPalette::Text));
    painter.drawRect(area);
    const double y_step = TickStep(high - low);
    for (double v : Ticks(low, high, y_step)) {
        const int y = static_cast<int>(std::lround(y_of(v)));
        painter.drawLine(area.left() - 4, y, area.left(), y);
        const QString label = Number(v);
        painter.drawText(area.left() - 6 - fm.horizontalAdvance(label), y + fm.ascent() / 2, label);
    }
    // Ticks across in axis units; the axis is monotonic over the shown samples.
    const double a0 = AxisValue(first_), a1 = AxisValue(last_);
    const double x_step = TickStep(std::abs(a1 - a0));
    const double lo = std::min(a0, a1), hi = std::max(a0, a1);
    for (double a : Ticks(lo, hi, x_step)) {
        const double fraction = a1 != a0 ? (a - a0) / (a1 - a0) : 0;
        const int x = static_cast<int>(
            std::lround(x_of(static_cast<double>(first_) + fraction * (shown - 1))));
        painter.drawLine(x, area.bottom(), x, area.bottom() + 4);
        const QString label = Number(a);
        painter.drawText(x - fm.horizontalAdvance(label) / 2, area.bottom() + 4 + fm.ascent(),
                         label);
    }
    const QString title = wavelengths_.empty() ? "Pixel" : "Wavelength (nm)";
    painter.drawText(area.center().x() - fm.horizontalAdvance(title) / 2,
                     area.bottom() + 6 + fm.height() + fm.ascent(), title);
    painter.save();
    painter.translate(ImageArea().left() + fm.ascent(), area.center().y());
    painter.rotate(-90);
    painter.drawText(-fm.horizontalAdvance("Value") / 2, 0, "Value");
    painter.restore();

    QPainterPath path;
    for (std::int64_t c = first_; c <= last_; ++c) {
        const QPointF p(x_of(static_cast<double>(c)), y_of(frame_.At(c, 0)));
        if (c == first_)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    painter.setClipRect(area);
    painter.setPen(QPen(QColor(0, 110, 0), 1));
    painter.drawPath(path);
}

// The left button drags a zoomed image.
void FrameView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || IsPlot() || zoom_ == 1) return;
    dragging_ = true;
    drag_from_ = event->position();
    drag_centre_ = centre_;
    setCursor(Qt::ClosedHandCursor);
}

void FrameView::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        centre_ = drag_centre_ - (event->position() - drag_from_) / (FitScale() * zoom_);
        KeepImageInView();
        update();
    }
    emit Hovered(ValueAt(event->position().toPoint()));
}

void FrameView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    setCursor(Qt::OpenHandCursor);
}

void FrameView::resizeEvent(QResizeEvent*) {
    KeepImageInView();
}

// The wheel zooms about the point under the mouse; a double click shows the whole image or
// row again.
void FrameView::wheelEvent(QWheelEvent* event) {
    if (frame_.Empty() || event->angleDelta().y() == 0) return;
    if (!IsPlot()) {
        ZoomImage(std::pow(1 / kZoomStep, event->angleDelta().y() / 120.0), event->position());
        emit Hovered(ValueAt(event->position().toPoint()));
        return;
    }
    const std::int64_t columns = frame_.Columns();
    const std::int64_t at = SampleAtX(static_cast<int>(event->position().x()));
    const double keep = event->angleDelta().y() > 0 ? kZoomStep : 1 / kZoomStep;
    const double shown = static_cast<double>(last_ - first_ + 1);
    auto width = static_cast<std::int64_t>(std::lround(shown * keep));
    width = std::clamp<std::int64_t>(width, std::min(kFewestShown, columns), columns);
    const double share = static_cast<double>(at - first_) / shown;
    std::int64_t first =
        at - static_cast<std::int64_t>(std::lround(share * static_cast<double>(width)));
    first = std::clamp<std::int64_t>(first, 0, columns - width);
    first_ = first, last_ = first + width - 1;
    update();
    emit Hovered(ValueAt(event->position().toPoint()));
}

void FrameView::mouseDoubleClickEvent(QMouseEvent* event) {
    ZoomToFit();
    emit Hovered(ValueAt(event->position().toPoint()));
}

GreyBar::GreyBar(QWidget* parent) : QWidget(parent) {
    setObjectName("greyBar");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, kMargin, 0, kMargin);
    white_ = new QLabel(this);
    white_->setObjectName("greyWhite");
    black_ = new QLabel(this);
    black_->setObjectName("greyBlack");
    for (QLabel* label : {white_, black_})
        label->setAlignment(Qt::AlignHCenter);
    layout->addWidget(white_);
    layout->addStretch();
    layout->addWidget(black_);
    setMinimumWidth(fontMetrics().horizontalAdvance("-8.88888e+88"));
}

void GreyBar::SetRange(double black, double white) {
    white_->setText(Number(white));
    black_->setText(Number(black));
    update();
}

// The gradient fills the space between the two labels.
void GreyBar::paintEvent(QPaintEvent*) {
    const int top = white_->geometry().bottom() + kMargin;
    const int bottom = black_->geometry().top() - kMargin;
    if (bottom <= top) return;
    const QRect bar(width() / 2 - kGreyBarWidth / 2, top, kGreyBarWidth, bottom - top);
    QLinearGradient gradient(bar.topLeft(), bar.bottomLeft());
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(1, Qt::black);
    QPainter painter(this);
    painter.fillRect(bar, gradient);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
}

SaveDialogs QtSaveDialogs() {
    return {
        [](QWidget* parent, const QString& title, const QString& suggested, const QString& filter) {
            return QFileDialog::getSaveFileName(parent, title, suggested, filter);
        },
        [](QWidget* parent, const QString& title, const QString& text) {
            QMessageBox::warning(parent, title, text);
        }};
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
    save_plot_ = new QAction("Save Plot as PNG...", this);
    save_plot_->setObjectName("actSavePlot");
    save_spectrum_ = new QAction("Save Spectrum as CSV...", this);
    save_spectrum_->setObjectName("actSaveSpectrum");
    bar->addWidget(new QLabel("Frame", this));
    bar->addWidget(frame_selector_);
    for (QAction* action : {save_plot_, save_spectrum_}) {
        auto* button = new QToolButton(this);
        action->setIconText(action->text());  // the button says "..." too: a dialog follows
        button->setObjectName(action->objectName().replace("act", "cmd"));
        button->setDefaultAction(action);
        connect(action, &QAction::visibleChanged, button,
                [button, action] { button->setVisible(action->isVisible()); });
        bar->addWidget(button);
    }
    bar->addStretch();
    bar->addWidget(value_label_);
    view_ = new FrameView(this);
    view_->setObjectName("frameView");
    view_->addActions({save_plot_, save_spectrum_});
    grey_bar_ = new GreyBar(this);
    auto* shown = new QHBoxLayout();
    shown->addWidget(view_, 1);
    shown->addWidget(grey_bar_);
    layout->addLayout(bar);
    layout->addLayout(shown, 1);
    connect(frame_selector_, &QSpinBox::valueChanged, this, [this] { Reload(); });
    connect(save_plot_, &QAction::triggered, this, &DocumentViewer::SavePlot);
    connect(save_spectrum_, &QAction::triggered, this, &DocumentViewer::SaveSpectrum);
    connect(view_, &FrameView::Hovered, value_label_, &QLabel::setText);
    Reload();
    resize(640, 480);
}

void DocumentViewer::SetDocument(std::shared_ptr<DocumentState> document) {
    document_ = std::move(document);
    Reload();
}

// The window's title and the frame selector's range follow the document.
void DocumentViewer::Follow() {
    const SpeInfo& info = document_->file->Info();
    // The name, then its folder: two files of one name in different folders are told apart.
    const std::filesystem::path path(info.path);
    const std::string folder = path.parent_path().string();
    setWindowTitle(QString::fromStdString(path.filename().string() +
                                          (folder.empty() ? "" : " (" + folder + ")")));
    frame_selector_->blockSignals(true);
    frame_selector_->setRange(1, static_cast<int>(std::min<std::int64_t>(info.frames, INT32_MAX)));
    frame_selector_->blockSignals(false);
}

void DocumentViewer::Refresh() {
    if (!document_->file) return;
    if (document_->unseen.Has(frame_selector_->value() - 1)) return Reload();
    Follow();
    document_->unseen.Clear();
}

void DocumentViewer::Reload() {
    if (!document_->file) return;
    Follow();
    document_->unseen.Clear();
    const SpeInfo& info = document_->file->Info();
    fits::Frame frame;
    // A wavelength axis needs one calibrated region covering the row.
    std::vector<double> wavelengths;
    if (info.metadata.regions.size() == 1) wavelengths = info.metadata.regions.front().wavelengths;
    if (!document_->file->ReadFrame(frame_selector_->value() - 1, frame)) return;
    view_->SetFrame(info.datatype == kSpeUInt16   ? Unsigned16(frame)
                    : info.datatype == kSpeUInt32 ? Unsigned32(frame)
                                                  : frame,
                    std::move(wavelengths));
    // A plot saves as PNG or CSV; an image has its grey scale beside it.
    const bool plot = view_->IsPlot();
    grey_bar_->SetRange(view_->GreyLimits().first, view_->GreyLimits().second);
    grey_bar_->setVisible(!plot);
    save_plot_->setVisible(plot);
    save_spectrum_->setVisible(plot);
    view_->setContextMenuPolicy(plot ? Qt::ActionsContextMenu : Qt::NoContextMenu);
}

// NAME.png (or NAME-frameN.png for frame N of several) beside the document's file.
QString DocumentViewer::SuggestedPath(const char* extension) const {
    const SpeInfo& info = document_->file->Info();
    const QFileInfo file(QFile::decodeName(info.path.c_str()));
    QString name = file.completeBaseName();
    if (info.frames > 1) name += QString("-frame%1").arg(frame_selector_->value());
    return file.dir().filePath(name + "." + extension);
}

// Asks where, then writes the file whole; a failure is told, a success said in the bar.
void DocumentViewer::Save(const QString& title, const QString& filter, const char* extension,
                          const std::function<QByteArray()>& bytes) {
    if (!document_->file || view_->CurrentFrame().Empty()) return;
    QString path = dialogs_.ask_path(this, title, SuggestedPath(extension), filter);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QString(".") + extension;
    if (QString error = SaveWhole(path, bytes()); !error.isEmpty())
        dialogs_.tell(this, title, error + ".");
    else
        value_label_->setText("Saved " + path);
}

void DocumentViewer::SavePlot() {
    Save("Save Plot as PNG", "PNG Images (*.png)", "png", [this] {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        view_->grab().save(&buffer, "PNG");
        return png;
    });
}

void DocumentViewer::SaveSpectrum() {
    Save("Save Spectrum as CSV", "CSV Files (*.csv)", "csv", [this] {
        return QByteArray::fromStdString(SpectrumCsv(view_->CurrentFrame(), view_->Wavelengths()));
    });
}

ViewerHost::ViewerHost(Application& app) {
    app.SetShowHook([this](std::shared_ptr<DocumentState> state) { Show(state); });
    app.SetCloseHook([this](std::shared_ptr<DocumentState> state) { Forget(state); });
}

ViewerHost::~ViewerHost() {
    if (owner_) owner_->removeEventFilter(this);
}

void ViewerHost::Show(const std::shared_ptr<DocumentState>& state) {
    const std::string path = state->file ? state->file->Info().path : std::string();
    auto same = [&](const std::unique_ptr<DocumentViewer>& v) {
        const auto& shown = v->Document();
        return shown == state || (!path.empty() && shown->file && shown->file->Info().path == path);
    };
    auto it = std::find_if(viewers_.begin(), viewers_.end(), same);
    DocumentViewer* viewer = nullptr;
    if (it == viewers_.end()) {
        viewers_.push_back(std::make_unique<DocumentViewer>(state));
        viewer = viewers_.back().get();
    } else {
        viewer = it->get();
        if (viewer->Document() != state)
            viewer->SetDocument(state);
        else
            viewer->Refresh();
    }
    // A minimized viewer comes back as it was before, in front.
    viewer->setWindowState(viewer->windowState() & ~Qt::WindowMinimized);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

void ViewerHost::Forget(const std::shared_ptr<DocumentState>& state) {
    std::erase_if(viewers_,
                  [&](const std::unique_ptr<DocumentViewer>& v) { return v->Document() == state; });
}

void ViewerHost::CloseWith(QWidget* owner) {
    if (owner_) owner_->removeEventFilter(this);
    owner_ = owner;
    if (owner_) owner_->installEventFilter(this);
}

void ViewerHost::CloseAll() {
    for (auto& v : viewers_)
        v->close();
}

// The viewers close when the owner has closed: its close may be refused (a question asked
// first), so the hide that follows an accepted close is the sign, not the close request. A
// minimized owner's hide comes from the window system (spontaneous) and is not one.
bool ViewerHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_ && event->type() == QEvent::Hide && !event->spontaneous()) CloseAll();
    return QObject::eventFilter(watched, event);
}

}  // namespace orlix
