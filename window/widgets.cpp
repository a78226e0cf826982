#include "widgets.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

namespace forms {

QColor colourOf(std::uint32_t ole) {
    return QColor(int(ole & 0xFF), int((ole >> 8) & 0xFF), int((ole >> 16) & 0xFF));
}

// Points at the 96 dots an inch that 15 twips a pixel stands for; Qt scales for HiDPI.
QFont designFont(const char* face, float points) {
    QFont font(QString::fromLatin1(face));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    font.setWeight(QFont::Normal);
    return font;
}

void paintBackground(QWidget* widget, std::uint32_t ole) {
    if (ole == SystemColour)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colourOf(ole));
    palette.setColor(QPalette::Button, colourOf(ole));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

namespace {

// A graphical command button: its own colour, flat, with a classic bevel, whatever the style.
class GraphicalButton : public QAbstractButton {
  public:
    using QAbstractButton::QAbstractButton;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        p.fillRect(rect(), palette().color(QPalette::Button));
        const QColor light(255, 255, 255), shadow(128, 128, 128), dark(0, 0, 0);
        const bool down = isDown();
        p.setPen(down ? dark : light);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(down ? light : dark);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(shadow);
        const QRect inner = r.adjusted(1, 1, -1, -1);
        if (down) {
            p.drawLine(inner.topLeft(), inner.topRight());
            p.drawLine(inner.topLeft(), inner.bottomLeft());
        } else {
            p.drawLine(inner.bottomLeft(), inner.bottomRight());
            p.drawLine(inner.topRight(), inner.bottomRight());
        }
        const QRect textRect = rect().translated(down ? 1 : 0, down ? 1 : 0);
        if (isEnabled()) {
            p.setPen(dark);
            p.drawText(textRect, Qt::AlignCenter, text());
        } else { // engraved, as disabled captions are drawn
            p.setPen(light);
            p.drawText(textRect.translated(1, 1), Qt::AlignCenter, text());
            p.setPen(shadow);
            p.drawText(textRect, Qt::AlignCenter, text());
        }
        if (hasFocus()) {
            p.setPen(QPen(dark, 1, Qt::DotLine));
            p.drawRect(rect().adjusted(4, 4, -5, -5));
        }
    }
};

} // namespace

bool WholeRadioButton::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void WholeRadioButton::nextCheckState() {
    clicking_ = true;
    QRadioButton::nextCheckState();
    clicking_ = false;
}

void WholeRadioButton::focusInEvent(QFocusEvent* event) {
    // Tab enters a group of options at the selected one, not at the one that last had the focus.
    const bool byTab =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (byTab && !isChecked()) {
        for (auto* other :
             parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
            if (other->isChecked() && other->isEnabled() && other->isVisible()) {
                other->setFocus(event->reason());
                return;
            }
        }
    }
    QRadioButton::focusInEvent(event);
}

QWidget* makeWidget(const DesignControl& d, QWidget* parent) {
    const QString text = QString::fromUtf16(d.text ? d.text : u"");
    const Qt::Alignment across = (d.settings & Centred) ? Qt::AlignHCenter : Qt::AlignLeft;
    switch (d.kind) {
    case Kind::TextBox:
        if (d.settings & MultiLine) {
            auto* box = new QPlainTextEdit(parent);
            box->setReadOnly(d.settings & Locked);
            box->setTabChangesFocus(true);
            box->setVerticalScrollBarPolicy(
                (d.settings & VerticalScrollBar) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            box->setTextInteractionFlags(box->textInteractionFlags() |
                                         Qt::TextSelectableByKeyboard);
            return box;
        } else {
            auto* box = new QLineEdit(parent);
            box->setReadOnly(d.settings & Locked);
            box->setAlignment(across | Qt::AlignVCenter);
            return box;
        }
    case Kind::Label: {
        auto* label = new ClickLabel(text, parent);
        label->setAlignment(across | Qt::AlignTop);
        label->setWordWrap(true);
        label->setFocusPolicy(Qt::NoFocus);
        return label;
    }
    case Kind::PictureBox:
        return new QWidget(parent);
    case Kind::CommandButton: {
        QAbstractButton* button = (d.settings & Graphical)
                                      ? static_cast<QAbstractButton*>(new GraphicalButton(parent))
                                      : new QPushButton(parent);
        button->setText(text);
        return button;
    }
    case Kind::Frame: {
        auto* frame = new QGroupBox(text, parent);
        frame->setFocusPolicy(Qt::NoFocus);
        return frame;
    }
    case Kind::OptionButton:
        return new WholeRadioButton(text, parent);
    case Kind::Timer:
        break;
    }
    return nullptr;
}

bool takesFocus(Kind kind) {
    return kind != Kind::Label && kind != Kind::Frame;
}

} // namespace forms
