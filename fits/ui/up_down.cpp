#include "fits/ui/up_down.h"

#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

namespace fits::ui {

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setObjectName("up");
    down_->setObjectName("down");
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(up_, &QToolButton::clicked, this, [this] { SetValue(value_ + 1); });
    connect(down_, &QToolButton::clicked, this, [this] { SetValue(value_ - 1); });
}

void UpDown::SetValue(int value) {
    value = std::clamp(value, minimum_, std::max(minimum_, maximum_));
    if (value == value_) return;
    value_ = value;
    emit Changed();
}

void UpDown::SetMaximum(int maximum) {
    maximum_ = std::max(maximum, minimum_);
    SetValue(value_);
}

void UpDown::SetMinimum(int minimum) {
    minimum_ = minimum;
    maximum_ = std::max(maximum_, minimum_);
    SetValue(value_);
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up)
        SetValue(value_ + 1);
    else if (event->key() == Qt::Key_Down)
        SetValue(value_ - 1);
    else
        QWidget::keyPressEvent(event);
}

void UpDown::resizeEvent(QResizeEvent*) {
    // The buttons leave a margin where the focus mark is drawn.
    const QRect inner = rect().adjusted(kFocusMargin, kFocusMargin, -kFocusMargin, -kFocusMargin);
    const int half = inner.height() / 2;
    up_->setGeometry(inner.left(), inner.top(), inner.width(), half);
    down_->setGeometry(inner.left(), inner.top() + half, inner.width(), inner.height() - half);
}

void UpDown::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Highlight), kFocusMargin));
    const int half_pen = kFocusMargin / 2;
    painter.drawRect(rect().adjusted(half_pen, half_pen, -half_pen - 1, -half_pen - 1));
}

void UpDown::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void UpDown::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

}  // namespace fits::ui
