#include "forms.h"
#include "titlebar.h"
#include "widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include <algorithm>

namespace forms {

namespace {

// What tests put in place of the error box; empty: the box.
Form::ErrorReporter& customReporter() {
    static Form::ErrorReporter instance;
    return instance;
}

// The form's own window: it tells the form when the player has closed it.
class FormWindow : public QWidget {
  public:
    explicit FormWindow(std::function<void()> closed)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                               Qt::MSWindowsFixedSizeDialogHint), // Windows: no resizing frame
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

bool isPlayerInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// Holds the player's input off a window while the error box shows over it, as a modal box
// would, and ends the box when the window goes. The window is deliberately not blocked the way
// Qt blocks a window under a modal box: Qt then drops the window system's close request, on
// every platform, and the player could not close the game while the box shows.
class InputHold : public QObject {
  public:
    // Lives as long as the box, its parent.
    InputHold(QWidget* window, QDialog* box) : QObject(box), window_(window), box_(box) {
        qApp->installEventFilter(this);
    }
    ~InputHold() override { release(); }
    // The box has closed: the window takes input again.
    void release() { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (target == window_ && event->type() == QEvent::Hide && !event->spontaneous()) {
            box_->done(0); // closed; a minimized window hides spontaneously and keeps its box
            return false;
        }
        if (target == window_ && event->type() == QEvent::Show && event->spontaneous()) {
            // Restored: the box comes back in front of it, as a modal one.
            if (box_->isMinimized())
                box_->showNormal();
            box_->raise();
            return false;
        }
        if (target == window_ && event->type() == QEvent::WindowActivate) {
            // The window made active (restored, clicked) hands the keyboard on to its box, as a
            // window under a modal box does; once the activation is through.
            QTimer::singleShot(0, box_, [box = box_] { box->activateWindow(); });
            return false;
        }
        if (!isPlayerInput(event->type()))
            return false;
        const auto* widget = qobject_cast<QWidget*>(target);
        return widget && (widget == window_ || window_->isAncestorOf(widget));
    }

  private:
    QWidget* window_;
    QDialog* box_;
};

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

Form::~Form() {
    // The error box is a child of the window, which goes last: its continuation would reach
    // the timers and controls already gone. It goes first, as the window's closing would end it,
    // with no tick after.
    windowClosed();
    delete errorBox_;
}

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
    Deliver([this] { Form_Load(); });
    if (DrawsOwnTitleBar())
        frame_ = FrameWithTitleBar(window_.get());
    QWidget* shown = window_->window();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // A frame learns its size from its layout, which otherwise first works when shown.
        if (QLayout* layout = shown->layout())
            layout->activate();
        // The whole window is centred, the system's frame with it: a platform that draws the
        // frame itself (Windows) knows it once the window exists, before it shows.
        shown->winId();
        const auto centre = [shown, screen] {
            QRect whole = shown->frameGeometry();
            whole.moveCenter(screen->availableGeometry().center());
            shown->move(whole.topLeft());
        };
        centre();
        // A page is the window's whole desktop, and it changes shape as a device turns: the
        // window stays in its middle. On a desktop the player places it.
        if (QGuiApplication::platformName() == u"wasm")
            QObject::connect(screen, &QScreen::availableGeometryChanged, shown, centre);
    }
    // Never maximized nor full screen, where the platform would make a shown window so (in a
    // browser Qt fills the page with it): the window keeps its designed size and look.
    shown->showNormal();
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
        if (!customReporter()) {
            // The form stays busy while the box shows: ticks that come meanwhile wait for it.
            errorBox_ = ShowErrorBox(error, window_.get(), [this] { finishDelivery(); });
            return true;
        }
        customReporter()(error);
    }
    finishDelivery();
    return true;
}

void Form::finishDelivery() {
    busy_ = false;
    deliverWaitingTicks();
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

void Form::SetErrorReporter(ErrorReporter reporter) {
    customReporter() = std::move(reporter);
}

QWidget* Form::ShowErrorBox(const RuntimeError& error, QWidget* over,
                            const std::function<void()>& closed) {
    auto* box = new QMessageBox(
        QMessageBox::Critical, QStringLiteral("Мигляр"),
        QStringLiteral("Грешка при изпълнение %1:\n%2").arg(error.number()).arg(error.message()),
        QMessageBox::NoButton, over);
    box->setDefaultButton(box->addButton(QStringLiteral("Добре"), QMessageBox::AcceptRole));
    // Its text can be selected and copied, for a teacher to pass on what went wrong.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Not Qt's modality (see InputHold), and no event loop of its own waiting for it: the caller
    // goes on at once, and what waits for the box waits for `closed`.
    box->setWindowModality(Qt::NonModal);
    InputHold* hold = over ? new InputHold(over, box) : nullptr;
    QObject::connect(
        box, &QDialog::finished, box,
        [box, hold, over = QPointer<QWidget>(over), closed] {
            if (hold)
                hold->release();
            box->deleteLater();
            // The keyboard goes back to where it was in the window, unless the window closed.
            if (over && over->isVisible())
                over->activateWindow();
            if (closed)
                closed();
        },
        Qt::SingleShotConnection);
    box->showNormal();
    // A modal box takes the keyboard itself; this one asks for it, also where no window manager
    // would give it (a kiosk session), so that Return closes it at once.
    box->activateWindow();
    return box;
}

} // namespace forms
