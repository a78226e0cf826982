// The window as it first shows: the board, the hidden letter, the gates, the draw and the picture.
#include "support.h"

#include "startup.h"
#include "titlebar.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

using namespace forms;
using namespace Qt::StringLiterals;

class StartupTest : public QObject {
    Q_OBJECT

  private slots:
    // What the player sees is the window, or the frame with the game's own title bar where it
    // draws one: that is the one window shown, and it stands in the middle of the screen's
    // free area with the system's frame around it (which the offscreen platform draws, as
    // Windows does), to a pixel where the two sizes differ by an odd count.
    void theWindowTheGameShowsIsCentred_data() {
        QTest::addColumn<bool>("ownBar");
        QTest::newRow("the desktop's frame") << false;
        QTest::newRow("the game's own title bar") << true;
    }
    void theWindowTheGameShowsIsCentred() {
        QFETCH(bool, ownBar);
        DrawOwnTitleBarEverywhere(ownBar);
        Started w;
        DrawOwnTitleBarEverywhere(false);
        QWidget* const shown = w.window()->window();
        QCOMPARE(shown != w.window(), ownBar);
        QWidgetList visible;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible())
                visible << top;
        QCOMPARE(visible, QWidgetList{shown});
        QVERIFY(w.window()->isVisible());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect at = shown->frameGeometry();
        QVERIFY(shown->width() >= 499 + (ownBar ? 2 : 0) &&
                shown->height() >= 424 + (ownBar ? 30 : 0));
        QVERIFY(at.width() > shown->width() || ownBar); // the frame is counted in
        const int across = (at.left() - area.left()) - (area.right() - at.right());
        const int down = (at.top() - area.top()) - (area.bottom() - at.bottom());
        QVERIFY2(std::abs(across) <= 1 && std::abs(down) <= 1,
                 qPrintable(u"off the middle by %1, %2"_s.arg(across).arg(down)));
    }

    // The focus starts in the message box (the rest of the first state is the soak's).
    void tabWalksTheFocusOrderAndTheLetterBoxTakesNoTyping() {
        Started w(0.0f);
        QCOMPARE(w.window()->focusWidget(), w.Text1(0).widget());
        const std::vector<QWidget*> expected = {
            w.Text1(0).widget(),    w.Text2.widget(),       w.Picture1.widget(),
            w.Command1(0).widget(), w.Command1(1).widget(), w.Option1(0).widget(),
            w.Option1(1).widget(),  w.Option1(2).widget(),  w.Option1(3).widget(),
            w.Option1(4).widget(),  w.Text3(0).widget(),    w.Text3(1).widget()};
        std::vector<QWidget*> walked;
        QWidget* at = w.Text1(0).widget();
        do { // what Tab would reach: shown, enabled, taking the focus by Tab
            if (at->isVisibleTo(w.window()) && at->isEnabled() &&
                (at->focusPolicy() & Qt::TabFocus))
                walked.push_back(at);
            at = at->nextInFocusChain();
        } while (at != w.Text1(0).widget());
        QCOMPARE(walked, expected);

        typeInto(w.Text2.widget(), u"Б"_s);
        QCOMPARE(w.Text2.Text(), u"А"_s);
    }

    void theDrawPicksTheLetter_data() {
        QTest::addColumn<float>("r");
        QTest::addColumn<QString>("letter");
        QTest::newRow("0") << 0.0f << u"А"_s;
        QTest::newRow("below 0.005") << 0.0049f << u"А"_s;
        QTest::newRow("0.0051") << 0.0051f << u"Б"_s;
        QTest::newRow("0.125 goes down to 12") << 0.125f << u"М"_s;
        QTest::newRow("0.375 goes up to 38") << 0.375f << u"И"_s;
        QTest::newRow("0.29") << 0.29f << u"Э"_s;
        QTest::newRow("0.30") << 0.3f << u"А"_s;
        QTest::newRow("0.995") << 0.995f << u"К"_s;
        QTest::newRow("largest below 1") << 0.99999994f << u"К"_s;
    }
    void theDrawPicksTheLetter() {
        QFETCH(float, r);
        QFETCH(QString, letter);
        QCOMPARE(Started(r).Text2.Text(), letter);
    }

    void theBoardFollowsTheTemplate() {
        Migliar w;
        w.Timer1.DriveByHand();
        w.Label2(0).setWidth(500);
        w.Label2(0).setHeight(300);
        w.Label2(0).setLeft(100);
        w.Form_Load();
        QCOMPARE(w.Label2(1).Left(), 100.0f + 550.0f);
        QCOMPARE(w.Label2(15).Left(), 100.0f + 15 * 550.0f);
        QCOMPARE(w.Label2(16).Left(), 100.0f + 550.0f);
        QCOMPARE(w.Label2(1).Top(), 3000.0f + 350.0f);
        QCOMPARE(w.Label2(30).Top(), 3000.0f + 700.0f);
        QCOMPARE(w.Label2(1).Width(), 405.0f); // a loaded label keeps the design size
    }

    void thePictureShowsTheColoursAndHidesTheLetter() {
        Started w(0.0f); // "А"
        QCOMPARE(w.window()->size(), QSize(499, 424));
        QCOMPARE(w.window()->minimumSize(), w.window()->maximumSize());
        QVERIFY(w.window()->windowTitle().endsWith(u" ИТ - показване части на буква"_s));
        QVERIFY(!w.window()->windowIcon().isNull()); // the resource is found
        QVERIFY(!(w.window()->windowFlags() & Qt::WindowMinMaxButtonsHint));
        QCOMPARE(w.Timer1.Interval(), 100); // a reveal of 100 steps takes 10 s
        const QString task = w.Text1(0).Text();
        QVERIFY(task.startsWith(u"В ред житейски ситуации"_s));
        QVERIFY(task.endsWith(u"\r\n"_s));
        QCOMPARE(task.count(u"\r\n"_s), 11);
        QVERIFY(std::abs(task.size() - 1050) < 60);

        const QImage shown = w.window()->grab().toImage();
        const QColor cover(192, 192, 255);
        const QRect letterBox = pixelsOf(w.Text2);
        QCOMPARE(countColour(shown, letterBox, cover), letterBox.width() * letterBox.height());

        auto mostly = [&](const Control& c, QColor colour) {
            const QRect r = pixelsOf(c).adjusted(2, 2, -2, -2);
            const int n = countColour(shown, r, colour);
            return n > r.width() * r.height() / 2;
        };
        QVERIFY(mostly(w.Label1(0), QColor(255, 192, 128)));
        QVERIFY(mostly(w.Label1(1), QColor(255, 192, 128)));
        QVERIFY(mostly(w.Label1(2), QColor(255, 192, 128)));
        QVERIFY(mostly(w.Command1(0), QColor(128, 255, 128)));
        QVERIFY(mostly(w.Command1(1), QColor(255, 0, 0)));
        for (int k = 1; k <= 30; ++k)
            QVERIFY(mostly(w.Label2(k), QColor(255, 255, 0)));
        QCOMPARE(countColour(shown, pixelsOf(w.Label2(0)), cover),
                 pixelsOf(w.Label2(0)).width() * pixelsOf(w.Label2(0)).height());
        const QRect frame = pixelsOf(w.Frame1);
        const QRect firstOption = pixelsOf(w.Option1(0)).translated(frame.topLeft());
        QVERIFY(countColour(shown, firstOption, QColor(128, 128, 255)) >
                firstOption.width() * firstOption.height() / 3);

        // With the cover moved away the same region shows the letter: the check can fail.
        w.Picture1.setLeft(3000);
        const QImage uncovered = w.window()->grab().toImage();
        QVERIFY(countColour(uncovered, letterBox, QColor(0, 0, 0)) > 50);
    }

    // Times New Roman, normal weight, at the design's sizes (16, 19 and 64 pixels at 96 dots an
    // inch), and each caption aligned as designed.
    void everyControlHasItsFontAndAlignment() {
        Started w;
        struct Expected {
            const Control& control;
            int pixels;
            Qt::Alignment across;
        };
        std::vector<Expected> all = {{w.Label1(0), 16, Qt::AlignHCenter},
                                     {w.Text2, 64, Qt::AlignHCenter}};
        for (const Control* c : std::initializer_list<const Control*>{&w.Text1(0), &w.Text1(1),
                                                                      &w.Label1(1), &w.Label1(2)})
            all.push_back({*c, 16, Qt::AlignLeft});
        for (int n = 0; n <= 4; ++n)
            all.push_back({w.Option1(n), 16, {}});
        for (int k = 0; k <= 30; ++k)
            all.push_back({w.Label2(k), 19, Qt::AlignHCenter});
        for (int i = 0; i <= 1; ++i) {
            all.push_back({w.Command1(i), 16, {}});
            all.push_back({w.Text3(i), 16, Qt::AlignLeft});
        }
        all.push_back({w.Frame1, 16, {}});
        for (const Expected& e : all) {
            const QWidget* widget = e.control.widget();
            const QFont font = widget->font();
            const QString what = QString::fromLatin1(widget->metaObject()->className());
            QVERIFY2(font.family() == u"Times New Roman"_s, qPrintable(what));
            QVERIFY2(QFontInfo(font).pixelSize() == e.pixels, qPrintable(what));
            QVERIFY2(font.weight() == QFont::Normal && !font.italic() && !font.underline() &&
                         !font.strikeOut(),
                     qPrintable(what));
            Qt::Alignment alignment = e.across;
            if (auto* label = qobject_cast<const QLabel*>(widget))
                alignment = label->alignment();
            else if (auto* line = qobject_cast<const QLineEdit*>(widget))
                alignment = line->alignment();
            QVERIFY2((alignment & Qt::AlignHorizontal_Mask) == e.across, qPrintable(what));
        }
    }

    // A right click on any text box or the message box's scroll bar opens Qt's standard menu;
    // every entry of it must be Bulgarian, whatever language the desktop runs in.
    void theStandardMenusAreBulgarian() {
        QLocale::setDefault(QLocale(QLocale::English));
        forms::SpeakBulgarian(*qApp);
        Started w;
        w.Picture1.setLeft(3000); // the letter box can be clicked once the cover has slid off
        QVERIFY(w.exposed());
        auto* message = static_cast<QPlainTextEdit*>(w.Text1(0).widget());
        const std::vector<QWidget*> boxes = {w.Text3(0).widget(), w.Text3(1).widget(),
                                             message->viewport(), message->verticalScrollBar(),
                                             w.Text2.widget()};
        const QRegularExpression latin(u"[A-Za-z]"_s);
        for (QWidget* box : boxes) {
            QStringList entries, foreign;
            // Some menus run their own loop: read and close the menu from inside it.
            QTimer::singleShot(100, [&] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                std::vector<QMenu*> menus = {menu};
                while (!menus.empty() && menus.back()) {
                    QMenu* m = menus.back();
                    menus.pop_back();
                    for (QAction* action : m->actions()) {
                        if (action->menu())
                            menus.push_back(action->menu());
                        if (action->isSeparator())
                            continue;
                        // The shortcut after the tab is a key's name, not a word.
                        const QString text = action->text().section(u'\t', 0, 0).remove(u'&');
                        entries << text;
                        if (text.isEmpty() || text.contains(latin))
                            foreign << text;
                    }
                }
                if (menu)
                    menu->close();
            });
            const QPoint at = box->mapTo(w.window(), box->rect().center());
            QTest::mouseClick(w.window()->windowHandle(), Qt::RightButton, {}, at);
            QTRY_VERIFY(!entries.isEmpty());
            QVERIFY2(foreign.isEmpty(),
                     qPrintable(box->metaObject()->className() + u": "_s + foreign.join(u", "_s)));
        }
        QLocale::setDefault(QLocale::system());
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
