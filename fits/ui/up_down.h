// The up-down control: two small arrow buttons holding a value between a lower and an upper
// bound. Changed() is its Change event: emitted whenever the value changes, also when a new
// bound clamps it.
#pragma once

#include <QWidget>

class QToolButton;

namespace fits::ui {

class UpDown : public QWidget {
    Q_OBJECT
  public:
    explicit UpDown(QWidget* parent = nullptr);
    int Value() const { return value_; }
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    void SetValue(int value);
    void SetMaximum(int maximum);
    void SetMinimum(int minimum);

  signals:
    void Changed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // A frame in the highlight colour around the arrows while the control has the focus.
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    static constexpr int kFocusMargin = 2;  // pixels
    QToolButton* up_;
    QToolButton* down_;
    int value_ = 1, minimum_ = 1, maximum_ = 1;
};

}  // namespace fits::ui
