#include "titlebar.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace forms {

namespace {

bool InBrowser() {
    return QGuiApplication::platformName() == u"wasm";
}

constexpr int BarHeight = 30;
constexpr int Edge = 1;
constexpr int IconSize = 20;

QColor blend(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(float(a.redF() * (1 - share) + b.redF() * share),
                            float(a.greenF() * (1 - share) + b.greenF() * share),
                            float(a.blueF() * (1 - share) + b.blueF() * share));
}

// Ink on the bar: full while the window has the keyboard, paler while another window has it.
QColor ink(const QWidget* widget) {
    const QColor text = widget->palette().color(QPalette::WindowText);
    return widget->isActiveWindow() ? text
                                    : blend(text, widget->palette().color(QPalette::Window), 0.55);
}

// Turns red under the pointer, as close buttons do on the common desktops.
class CloseButton : public QAbstractButton {
  public:
    explicit CloseButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(24, 24);
        setFocusPolicy(Qt::NoFocus); // Tab stays among the game's controls
        setAttribute(Qt::WA_Hover);
        setAccessibleName(QStringLiteral("Затвори"));
        setToolTip(QStringLiteral("Затвори"));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor cross = ink(this);
        if (isDown() || underMouse()) {
            p.fillRect(rect(), isDown() ? QColor(176, 30, 30) : QColor(224, 51, 51));
            cross = Qt::white;
        }
        p.setPen(QPen(cross, 2));
        const QRectF arms = QRectF(rect()).adjusted(7.5, 7.5, -7.5, -7.5);
        p.drawLine(arms.topLeft(), arms.bottomRight());
        p.drawLine(arms.bottomLeft(), arms.topRight());
    }
};

class TitleBar : public QWidget {
  public:
    explicit TitleBar(QWidget* frame) : QWidget(frame), close_(new CloseButton(this)) {
        setFixedHeight(BarHeight);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, (BarHeight - close_->height()) / 2, 0);
        row->addStretch();
        row->addWidget(close_, 0, Qt::AlignVCenter);
        connect(close_, &QAbstractButton::clicked, frame, &QWidget::close);
        // A page has no window to close: the game ends with its tab.
        close_->setVisible(!InBrowser());
        QFont font = this->font();
        font.setPixelSize(14);
        setFont(font);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        const int gap = (BarHeight - IconSize) / 2;
        const QIcon icon = window()->windowIcon();
        const int textLeft = icon.isNull() ? gap : 2 * gap + IconSize;
        if (!icon.isNull())
            icon.paint(&p, QRect(gap, gap, IconSize, IconSize));
        // Centred on the bar when it fits between the icon and the button, cut short otherwise.
        const int textRight =
            (close_->isVisibleTo(this) ? close_->geometry().left() : width()) - gap;
        const QString title = window()->windowTitle();
        const int room = textRight - textLeft;
        const int wanted = fontMetrics().horizontalAdvance(title);
        QRect place(textLeft, 0, room, height());
        if (wanted <= room) {
            const int left = std::clamp((width() - wanted) / 2, textLeft, textRight - wanted);
            place = QRect(left, 0, wanted, height());
        }
        p.setPen(ink(this));
        p.drawText(place, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(title, Qt::ElideRight, room));
    }

    void mousePressEvent(QMouseEvent* event) override {
        // The desktop moves the window: a Wayland client cannot place its own windows.
        if (event->button() == Qt::LeftButton && window()->windowHandle())
            window()->windowHandle()->startSystemMove();
    }

  private:
    CloseButton* close_;
};

class OwnFrame : public QWidget {
  public:
    explicit OwnFrame(QWidget* window)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), window_(window),
          bar_(new TitleBar(this)) {
        setWindowTitle(window->windowTitle());
        setWindowIcon(window->windowIcon());
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(Edge, Edge, Edge, Edge);
        column->setSpacing(0);
        // The frame's size follows the window's, which is fixed: the desktop learns it as a
        // minimum equal to the maximum.
        column->setSizeConstraint(QLayout::SetFixedSize);
        column->addWidget(bar_);
        column->addWidget(window);
        window->installEventFilter(this);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), palette().color(QPalette::Dark));
    }

    void resizeEvent(QResizeEvent* event) override {
        // A compositor may offer another size in spite of minimum = maximum (Weston 14 does
        // while Super and the right button drag), and Qt 6.8 takes it: the frame keeps its own.
        if (minimumSize() == maximumSize() && event->size() != minimumSize())
            resize(minimumSize());
        QWidget::resizeEvent(event);
    }

    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::ActivationChange)
            bar_->update();
        QWidget::changeEvent(event);
    }

    void closeEvent(QCloseEvent* event) override {
        event->setAccepted(!window_ || window_->close());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::WindowTitleChange) {
            setWindowTitle(window_->windowTitle());
            bar_->update();
        } else if (watched == window_ && event->type() == QEvent::WindowIconChange) {
            setWindowIcon(window_->windowIcon());
            bar_->update();
        }
        return false;
    }

  private:
    QPointer<QWidget> window_;
    TitleBar* bar_;
};

// Tests have the game draw its own frame where the platform would not ask for it.
bool everywhere = false;

} // namespace

bool DrawsOwnTitleBar() {
    return everywhere || QGuiApplication::platformName().startsWith(u"wayland") || InBrowser();
}

void DrawOwnTitleBarEverywhere(bool value) {
    everywhere = value;
}

std::unique_ptr<QWidget> FrameWithTitleBar(QWidget* window) {
    return std::make_unique<OwnFrame>(window);
}

} // namespace forms
