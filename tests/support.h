// What the game's tests share: a started window with forced draws and a hand-driven timer, the
// game's texts, clicks, the state of the gates, the error box and a few looks at pixels.
#pragma once

#include "runtime.h"

#include <functional>

// The number of the runtime error that `f` raises; 0 for none.
inline int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const forms::RuntimeError& e) {
        return e.number();
    }
    return 0;
}

#ifndef MIGLIAR_RUNTIME_ONLY // the runtime's test sees no widgets (in a browser, none are built)

#include "migliar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QWidget>

#include <optional>

inline const QString kLetters = QStringLiteral("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭ");
inline const QString kPrompt = QStringLiteral("Избирайте разумно бързо!");

// The message box after a judged guess: "Да" or "Не", and the steps.
inline QString verdict(const QString& word, int steps) {
    return word + QStringLiteral("\r\nСлед брой стъпки: ") + QString::number(steps) +
           QStringLiteral("\r\n");
}

inline void click(const forms::Control& c) {
    QTest::mouseClick(c.widget(), Qt::LeftButton);
}

// The board's label of the hidden letter, and one of another letter.
inline const forms::Label& rightLabel(Migliar& w) {
    return w.Label2(kLetters.indexOf(w.Text2.Text()) + 1);
}
inline const forms::Label& wrongLabel(Migliar& w) {
    return w.Label2(w.Text2.Text() == QStringLiteral("А") ? 2 : 1);
}

// The states of a letter, read from the gates; Torn where the five options are not greyed out
// together, control and widget alike.
enum class State { Ready, BeforeFirstTick, Revealing, RunOut, Judged, Torn };

inline State stateOf(Migliar& w) {
    int options = 0;
    for (int n = 0; n <= 4; ++n)
        options += w.Option1(n).Enabled() + w.Option1(n).widget()->isEnabled();
    if (options % 10 != 0)
        return State::Torn;
    if (w.Timer1.Enabled())
        return options ? State::BeforeFirstTick : State::Revealing;
    if (!w.Command1(0).Enabled())
        return State::Judged;
    return options ? State::Ready : State::RunOut;
}

// A started game. The first letter is drawn from `draw` when given; the timer ticks only when
// a test fires it, unless `realTimer` is set.
struct Started : Migliar {
    explicit Started(std::optional<float> draw = std::nullopt, bool realTimer = false) {
        if (draw)
            forms::SetRandomSource([r = *draw] { return r; });
        if (!realTimer)
            Timer1.DriveByHand();
        Start();
        forms::SetRandomSource({});
    }
    // Fires n ticks, as the running timer would.
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            Timer1.Fire();
    }
    // "Покажи", then n ticks.
    void reveal(int n = 0) {
        click(Command1(0));
        tick(n);
    }
    // The window is on the screen, to be clicked where the player would.
    bool exposed() { return QTest::qWaitForWindowExposed(window()); }
};

inline QRect pixelsOf(const forms::Control& c) {
    return forms::PixelRect(c.Left(), c.Top(), c.Width(), c.Height());
}

// How many pixels of a region are exactly one colour.
inline int countColour(const QImage& image, const QRect& region, QColor colour) {
    int n = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            n += image.pixelColor(x, y) == colour ? 1 : 0;
    return n;
}

// Types a text into a widget key by key, as the player would; Cyrillic too.
inline void typeInto(QWidget* widget, const QString& text) {
    widget->setFocus();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

// The runtime error box, while it shows.
inline QMessageBox* shownErrorBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

// What the error box says, once closed with its button; empty when none shows.
inline QString closeErrorBox() {
    QMessageBox* box = shownErrorBox();
    if (!box)
        return {};
    const QString said = box->text();
    box->buttons().first()->click();
    return said;
}

#endif
