// The widgets that play our controls on screen, with the design's colours and fonts. Only the
// forms layer includes this.
#pragma once

#include "forms.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>

#include <functional>

namespace forms {

QColor colourOf(std::uint32_t ole);
// Points at the 96 dots an inch that 15 twips a pixel stands for; Qt scales for HiDPI.
QFont designFont(const char* face, float points);
// The design's background colour; the system colour leaves the widget as the style paints it.
void paintBackground(QWidget* widget, std::uint32_t ole);
// The widget for a design row, with its text, alignment and the settings Qt keeps.
QWidget* makeWidget(const DesignControl& d, QWidget* parent);
// Labels and frames never take the focus.
bool takesFocus(Kind kind);

// A label that reports a click: a press and a release of the left button inside it.
class ClickLabel : public QLabel {
  public:
    using QLabel::QLabel;
    std::function<void()> clicked;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = event->button() == Qt::LeftButton;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const bool click = pressed_ && event->button() == Qt::LeftButton &&
                           rect().contains(event->position().toPoint());
        pressed_ = false;
        if (click && clicked)
            clicked();
    }

  private:
    bool pressed_ = false;
};

// An option button that takes a click anywhere on it, not only on its circle and caption.
class WholeRadioButton : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;
    // True while a click (mouse or keyboard) changes the selection; false for a bare toggle, as
    // assistive technology makes one.
    bool clicking() const { return clicking_; }

  protected:
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    bool clicking_ = false;
};

} // namespace forms
