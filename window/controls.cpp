#include "forms.h"
#include "widgets.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <cmath>

namespace forms {

int PixelOf(double twips) {
    return static_cast<int>(std::floor(twips / 15.0 + 0.5));
}

QRect PixelRect(double left, double top, double width, double height) {
    const int x = PixelOf(left);
    const int y = PixelOf(top);
    return {x, y, PixelOf(left + width) - x, PixelOf(top + height) - y};
}

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

bool Control::playerClicked() {
    Form& form = array_->form_;
    return form.Deliver([this] {
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

namespace {
// The option a player's selection has just cleared: Qt clears the old option before it reports
// the new one.
OptionButton*& justCleared() {
    static OptionButton* option = nullptr;
    return option;
}
} // namespace

OptionButton::OptionButton(QWidget* parent, const DesignControl& design, Integer index,
                           ControlArrayBase* array)
    : Control(makeWidget(design, parent), design, index, array) {
    // A click, by mouse or keyboard, raises Click even on the selected option; assistive
    // technology selects one by toggling it, with no click, and that raises Click too.
    auto* radio = static_cast<WholeRadioButton*>(widget());
    QObject::connect(radio, &QAbstractButton::clicked, [this] {
        justCleared() = nullptr; // a click's selection needs no going back
        playerClicked();
    });
    QObject::connect(radio, &QAbstractButton::toggled, [this, radio](bool selected) {
        if (settingValue_ || radio->clicking())
            return;
        if (!selected)
            justCleared() = this;
        else
            playerSelected();
    });
}
OptionButton::~OptionButton() {
    if (justCleared() == this)
        justCleared() = nullptr;
}

QString OptionButton::Caption() const {
    return static_cast<QRadioButton*>(widget())->text();
}
bool OptionButton::Value() const {
    return static_cast<QRadioButton*>(widget())->isChecked();
}

void OptionButton::setValue(bool value) {
    const bool wasSelected = Value();
    select(value);
    if (value && !wasSelected)
        raiseClick();
}

void OptionButton::select(bool value) {
    auto* radio = static_cast<QRadioButton*>(widget());
    settingValue_ = true;
    if (value) {
        radio->setChecked(true); // auto-exclusive: the container's other options clear
    } else {
        radio->setAutoExclusive(false);
        radio->setChecked(false);
        radio->setAutoExclusive(true);
    }
    settingValue_ = false;
}

void OptionButton::playerSelected() {
    OptionButton* previous = std::exchange(justCleared(), nullptr);
    if (playerClicked())
        return;
    // Another handler runs (the error box shows) and the Click is lost: the selection goes back,
    // so that the option shown is always the one whose Click ran last.
    if (previous && previous->widget()->parentWidget() == widget()->parentWidget())
        previous->select(true);
    else
        select(false);
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
} // namespace forms
