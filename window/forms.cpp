#include "forms.h"

#include <QAbstractButton>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(MIGLIAR_XCB)
#include <QGuiApplication>
#include <xcb/xcb.h>
#endif

namespace forms {

// ---- Qt's side: pixels, colours, fonts, and the widgets that play our controls -----------------

int PixelOf(double twips) {
    return static_cast<int>(std::floor(twips / 15.0 + 0.5));
}

QRect PixelRect(double left, double top, double width, double height) {
    const int x = PixelOf(left);
    const int y = PixelOf(top);
    return {x, y, PixelOf(left + width) - x, PixelOf(top + height) - y};
}

namespace {

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

// An option button that takes a click anywhere on it, not only on its circle and caption.
class WholeRadioButton : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;

  protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

    // Tab enters a group of options at the selected one, not at the one that last had the focus.
    void focusInEvent(QFocusEvent* event) override {
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
};

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

} // namespace

// ---- Controls --------------------------------------------------------------------------------

Control::Control(QWidget* widget, const DesignControl& design, Integer index,
                 ControlArrayBase* array)
    : widget_(widget), design_(design), index_(index), array_(array), left_(design.left),
      top_(design.top), width_(design.width), height_(design.height),
      visible_(!(design.settings & Hidden)) {
    paintBackground(widget, design.backColour);
    if (design.accessibleName)
        widget->setAccessibleName(QString::fromUtf16(design.accessibleName));
    widget->setFocusPolicy(takesFocus(design.kind) ? Qt::StrongFocus : Qt::NoFocus);
    widget->setVisible(visible_);
    place();
}

Control::~Control() = default;

void Control::setLeft(float twips) {
    left_ = twips;
    place();
}
void Control::setTop(float twips) {
    top_ = twips;
    place();
}
void Control::setWidth(float twips) {
    width_ = twips;
    place();
}
void Control::setHeight(float twips) {
    height_ = twips;
    place();
}

void Control::setEnabled(bool enabled) {
    enabled_ = enabled;
    widget_->setEnabled(enabled);
}

void Control::setVisible(bool visible) {
    visible_ = visible;
    widget_->setVisible(visible);
}

void Control::place() {
    widget_->setGeometry(PixelRect(left_, top_, width_, height_));
}

void Control::playerClicked() {
    Form& form = array_->form_;
    form.Deliver([this] {
        if (enabled_ && visible_ && array_->onClick)
            array_->onClick(index_);
    });
}

void Control::raiseClick() {
    if (array_->onClick)
        array_->onClick(index_);
}

TextBox::TextBox(QWidget* parent, const DesignControl& design, Integer index,
                 ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {
    setText(QString::fromUtf16(design.text));
    // What the player types is the text, exactly as a later read will see it.
    if (auto* line = qobject_cast<QLineEdit*>(widget()))
        QObject::connect(line, &QLineEdit::textEdited, [this](const QString& t) { text_ = t; });
    if (auto* box = qobject_cast<QPlainTextEdit*>(widget()); box && !box->isReadOnly())
        QObject::connect(box, &QPlainTextEdit::textChanged, [this, box] {
            text_ = box->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
        });
}

void TextBox::setText(const QString& text) {
    text_ = text;
    if (auto* line = qobject_cast<QLineEdit*>(widget())) {
        line->setText(text);
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget())) {
        const QSignalBlocker quiet(box);
        box->setPlainText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
}

Label::Label(QWidget* parent, const DesignControl& design, Integer index, ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {
    static_cast<ClickLabel*>(widget())->clicked = [this] { playerClicked(); };
}
QString Label::Caption() const {
    return static_cast<QLabel*>(widget())->text();
}
void Label::setCaption(const QString& caption) {
    static_cast<QLabel*>(widget())->setText(caption);
}

PictureBox::PictureBox(QWidget* parent, const DesignControl& design, Integer index,
                       ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {}

CommandButton::CommandButton(QWidget* parent, const DesignControl& design, Integer index,
                             ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {
    QObject::connect(static_cast<QAbstractButton*>(widget()), &QAbstractButton::clicked,
                     [this] { playerClicked(); });
}
QString CommandButton::Caption() const {
    return static_cast<QAbstractButton*>(widget())->text();
}

Frame::Frame(QWidget* parent, const DesignControl& design, Integer index, ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {}
QString Frame::Caption() const {
    return static_cast<QGroupBox*>(widget())->title();
}

OptionButton::OptionButton(QWidget* parent, const DesignControl& design, Integer index,
                           ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {
    QObject::connect(static_cast<QAbstractButton*>(widget()), &QAbstractButton::clicked,
                     [this] { playerClicked(); });
}
QString OptionButton::Caption() const {
    return static_cast<QRadioButton*>(widget())->text();
}
bool OptionButton::Value() const {
    return static_cast<QRadioButton*>(widget())->isChecked();
}

void OptionButton::setValue(bool value) {
    auto* radio = static_cast<QRadioButton*>(widget());
    if (!value) {
        radio->setAutoExclusive(false);
        radio->setChecked(false);
        radio->setAutoExclusive(true);
        return;
    }
    const bool wasSelected = radio->isChecked();
    radio->setChecked(true); // auto-exclusive: the container's other options clear
    if (!wasSelected)
        raiseClick();
}

// ---- Control arrays --------------------------------------------------------------------------

Control& ControlArrayBase::member(Integer index) const {
    const auto found = members_.find(index.value());
    if (found == members_.end())
        Raise(NoSuchArrayElement,
              QStringLiteral("%1(%2)").arg(QString::fromStdString(name_)).arg(index.value()));
    return *found->second;
}

void ControlArrayBase::Load(Integer index) {
    if (Exists(index))
        Raise(AlreadyLoaded,
              QStringLiteral("%1(%2)").arg(QString::fromStdString(name_)).arg(index.value()));
    const Control& first = member(0);
    Control& loaded = form_.create(first.design(), index, *this);
    loaded.setVisible(false);
}

// ---- The timer -------------------------------------------------------------------------------

Timer::Timer(Form& form, const DesignControl& design) : form_(form), interval_(design.interval) {
    clock_.setTimerType(Qt::PreciseTimer); // 100 ticks must take 10 s, not 11
    clock_.setInterval(interval_);
    QObject::connect(&clock_, &QTimer::timeout, [this] { deliver(); });
}

void Timer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    waiting_ = false;
    if (enabled && !byHand_ && interval_ > 0)
        clock_.start();
    else
        clock_.stop();
}

void Timer::setInterval(int milliseconds) {
    interval_ = milliseconds;
    clock_.setInterval(milliseconds);
    if (enabled_ && !byHand_)
        clock_.start(); // a new interval starts a new period
}

void Timer::DriveByHand() {
    byHand_ = true;
    clock_.stop();
}

void Timer::deliver() {
    if (!enabled_ || form_.Closed())
        return;
    if (!form_.Deliver([this] {
            if (onTimer)
                onTimer();
        }))
        waiting_ = true;
}

// ---- The form --------------------------------------------------------------------------------

namespace {

Form::ErrorReporter& reporter() {
    static Form::ErrorReporter instance = &Form::ShowErrorBox;
    return instance;
}

// The form's own window: it tells the form when the player has closed it.
class FormWindow : public QWidget {
  public:
    explicit FormWindow(std::function<void()> closed)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          closed_(std::move(closed)) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted())
            closed_();
    }

  private:
    std::function<void()> closed_;
};

#if defined(MIGLIAR_XCB)
// Qt turns away the window manager's close request for a window that a modal box blocks, so the
// player could not close the game while an error box shows. The request is caught here before Qt
// sees it, and the window closes all the same; the box goes with it when the program ends.
class CloseRequests : public QAbstractNativeEventFilter {
  public:
    CloseRequests(QWidget* window, xcb_connection_t* connection)
        : window_(window), protocols_(atom(connection, "WM_PROTOCOLS")),
          deleteWindow_(atom(connection, "WM_DELETE_WINDOW")) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
            return false;
        const auto* request = static_cast<const xcb_client_message_event_t*>(message);
        if (request->format != 32 || request->type != protocols_ ||
            request->data.data32[0] != deleteWindow_ || request->window != window_->internalWinId())
            return false;
        if (!QApplication::activeModalWidget())
            return false; // not blocked: Qt closes the window itself
        QTimer::singleShot(0, window_, [window = window_] { window->close(); });
        return true;
    }

  private:
    static xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_NONE);
        std::free(reply);
        return atom;
    }

    QWidget* window_;
    xcb_atom_t protocols_;
    xcb_atom_t deleteWindow_;
};
#endif

} // namespace

Form::Form(const DesignWindow& design, std::span<const DesignControl> controls)
    : window_(std::make_unique<FormWindow>([this] { windowClosed(); })),
      fontFace_(design.fontFace) {
    window_->setWindowTitle(QString::fromUtf16(design.caption));
    // Naming the format spares Qt probing every image plugin for it.
    window_->setWindowIcon(QPixmap::fromImage(QImage(QString::fromLatin1(design.icon), "PNG")));
    window_->setFont(designFont(design.fontFace, design.fontPoints));
    paintBackground(window_.get(), design.backColour);
    window_->setFixedSize(PixelOf(design.clientWidth), PixelOf(design.clientHeight));

    for (const DesignControl& d : controls) {
        const std::string name = d.name;
        if (d.kind == Kind::Timer) {
            timers_.emplace(name, std::make_unique<Timer>(*this, d));
            continue;
        }
        auto& array = arrays_[name];
        if (!array) {
            switch (d.kind) {
            case Kind::TextBox:
                array = std::make_unique<ControlArray<TextBox>>(*this, name);
                break;
            case Kind::Label:
                array = std::make_unique<ControlArray<Label>>(*this, name);
                break;
            case Kind::PictureBox:
                array = std::make_unique<ControlArray<PictureBox>>(*this, name);
                break;
            case Kind::CommandButton:
                array = std::make_unique<ControlArray<CommandButton>>(*this, name);
                break;
            case Kind::Frame:
                array = std::make_unique<ControlArray<Frame>>(*this, name);
                break;
            case Kind::OptionButton:
                array = std::make_unique<ControlArray<OptionButton>>(*this, name);
                break;
            case Kind::Timer:
                break;
            }
        }
        create(d, d.index, *array);
    }

    // Stacking: raise from the back to the front, so the frontmost ends on top.
    std::vector<const Control*> all;
    for (const auto& [name, array] : arrays_)
        for (const auto& [index, control] : array->members_)
            all.push_back(control.get());
    std::sort(all.begin(), all.end(), [](const Control* a, const Control* b) {
        return a->design().stacking > b->design().stacking;
    });
    for (const Control* c : all) {
        c->widget()->raise();
        if (!backmostWindowed_ && c->design().kind != Kind::Label)
            backmostWindowed_ = c->widget();
    }

    // Focus order.
    std::sort(all.begin(), all.end(), [](const Control* a, const Control* b) {
        return a->design().tabIndex < b->design().tabIndex;
    });
    QWidget* previous = nullptr;
    for (const Control* c : all) {
        if (!takesFocus(c->design().kind))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, c->widget());
        previous = c->widget();
    }
}

Form::~Form() = default;

Control& Form::create(const DesignControl& d, Integer index, ControlArrayBase& array) {
    QWidget* parent = window_.get();
    if (d.container)
        parent = single<Control>(d.container).widget();
    std::unique_ptr<Control> control;
    switch (d.kind) {
    case Kind::TextBox:
        control = std::make_unique<TextBox>(parent, d, index, &array);
        break;
    case Kind::Label:
        control = std::make_unique<Label>(parent, d, index, &array);
        break;
    case Kind::PictureBox:
        control = std::make_unique<PictureBox>(parent, d, index, &array);
        break;
    case Kind::CommandButton:
        control = std::make_unique<CommandButton>(parent, d, index, &array);
        break;
    case Kind::Frame:
        control = std::make_unique<Frame>(parent, d, index, &array);
        break;
    case Kind::OptionButton:
        control = std::make_unique<OptionButton>(parent, d, index, &array);
        break;
    case Kind::Timer:
        break;
    }
    if (backmostWindowed_) { // a member loaded at run time
        if (d.kind == Kind::Label)
            control->widget()->stackUnder(backmostWindowed_);
        else
            control->widget()->raise();
    }
    if (d.fontPoints > 0)
        control->widget()->setFont(designFont(fontFace_, d.fontPoints));
    Control& result = *control;
    array.members_[index.value()] = std::move(control);
    return result;
}

void Form::Start() {
#if defined(MIGLIAR_XCB)
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() == u"xcb" && x11 && x11->connection()) {
        closeRequests_ = std::make_unique<CloseRequests>(window_.get(), x11->connection());
        QCoreApplication::instance()->installNativeEventFilter(closeRequests_.get());
    }
#endif
    Deliver([this] { Form_Load(); });
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        window_->move(area.center() - window_->rect().center());
    }
    window_->show();
    for (QWidget* w = window_->nextInFocusChain(); w != window_.get(); w = w->nextInFocusChain()) {
        if (w->isVisibleTo(window_.get()) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}

bool Form::Deliver(const std::function<void()>& handler) {
    if (busy_ || closed_)
        return false;
    busy_ = true;
    try {
        handler();
    } catch (const RuntimeError& error) {
        reporter()(error); // ticks that come meanwhile wait for the box to close
    }
    busy_ = false;
    deliverWaitingTicks();
    return true;
}

void Form::windowClosed() {
    // The window goes and its timers with it: no tick runs after closing, not even one that
    // waited for the error box the player closed the window over.
    closed_ = true;
    for (auto& [name, timer] : timers_) {
        timer->clock_.stop();
        timer->waiting_ = false;
    }
}

void Form::deliverWaitingTicks() {
    for (auto& [name, timer] : timers_) {
        if (timer->waiting_) {
            timer->waiting_ = false;
            timer->deliver();
        }
    }
}

void Form::SetErrorReporter(ErrorReporter reporter_) {
    reporter() = reporter_ ? std::move(reporter_) : ErrorReporter(&Form::ShowErrorBox);
}

void Form::ShowErrorBox(const RuntimeError& error) {
    QMessageBox box(
        QMessageBox::Critical, QStringLiteral("Мигляр"),
        QStringLiteral("Грешка при изпълнение %1:\n%2").arg(error.number()).arg(error.message()),
        QMessageBox::NoButton, QApplication::activeWindow());
    box.addButton(QStringLiteral("Добре"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace forms
