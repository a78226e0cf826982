// What the game's tests share: a started window with forced draws and a hand-driven timer,
// and a few looks at pixels.
#pragma once

#include "migliar.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

inline const QString kLetters = QStringLiteral("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭ");

// A started window. The first letter is drawn from `draw` when given; the timer ticks only when
// a test fires it, unless `realTimer` is set.
struct Started {
    explicit Started(std::optional<float> draw = std::nullopt, bool realTimer = false) {
        if (draw)
            forms::SetRandomSource([r = *draw] { return r; });
        if (!realTimer)
            w.Timer1.DriveByHand();
        w.Start();
        forms::SetRandomSource({});
    }
    // Fires n ticks, as the running timer would.
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            w.Timer1.Fire();
    }
    Migliar w;
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
