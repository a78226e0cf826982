// The forms layer on a small window of its own: twips, control arrays, options, the timer and
// what happens to a runtime error.
#include "support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <qpa/qwindowsysteminterface.h>

#include <array>
#include <memory>

using namespace forms;
using namespace Qt::StringLiterals;

namespace {

const DesignWindow kWindow = {u"test", 3000, 3000, 0x00FFC0C0, "Times New Roman", 12, ""};

// clang-format off
const std::array<DesignControl, 7> kControls = {{
    {"Frame",  -1, Kind::Frame,         nullptr, 100, 100, 1500, 1000, u"frame", 0x00FFC0C0, 0, Plain, 0, 3, 0},
    {"Choice",  0, Kind::OptionButton,  "Frame", 100, 300, 1000, 300,  u"a",     0x00FF8080, 0, Plain, 1, 1, 0},
    {"Choice",  1, Kind::OptionButton,  "Frame", 100, 600, 1000, 300,  u"b",     0x00FF8080, 0, Plain, 2, 0, 0},
    {"Tile",    0, Kind::Label,         nullptr, 100, 2000, 405, 405,  u"А",     0x0000FFFF, 14.25, Hidden | Centred, 3, 5, 0},
    {"Go",      0, Kind::CommandButton, nullptr, 1700, 100, 900, 375,  u"go",    0x0080FF80, 0, Graphical, 4, 2, 0},
    {"Box",    -1, Kind::TextBox,       nullptr, 1700, 600, 900, 405,  u"",      SystemColour, 0, Plain, 5, 4, 0},
    {"Clock",  -1, Kind::Timer,         nullptr, 0, 0, 0, 0,           nullptr,  SystemColour, 0, Plain, -1, -1, 100},
}};
// clang-format on

struct TestForm : Form {
    TestForm()
        : Form(kWindow, kControls), Choice(array<OptionButton>("Choice")),
          Tile(array<Label>("Tile")), Go(array<CommandButton>("Go")), Box(single<TextBox>("Box")),
          Clock(timer("Clock")) {
        Choice.onClick = [this](Integer i) { choiceClicks.push_back(i.value()); };
        Tile.onClick = [this](Integer i) { tileClicks.push_back(i.value()); };
    }
    ControlArray<OptionButton>& Choice;
    ControlArray<Label>& Tile;
    ControlArray<CommandButton>& Go;
    TextBox& Box;
    Timer& Clock;
    std::vector<int> choiceClicks, tileClicks;
};

} // namespace

class FormsTest : public QObject {
    Q_OBJECT

  private slots:
    void geometryReadsBackExactlyAndEqualTwipsCoverEqualPixels() {
        TestForm form;
        Label& tile = form.Tile(0);
        for (float v : {0.1f, 1.0f / 3.0f, -520.0f, 2320.0f, 7.5f}) {
            tile.setLeft(v);
            tile.setTop(v);
            QVERIFY(tile.Left() == v); // exact, not QCOMPARE's fuzzy float compare
            QVERIFY(tile.Top() == v);
        }
        // Edges are rounded, not sizes: a box and a cover of the same twips share every pixel,
        // and a cover slid by 10 twips at a time never leaves a gap on the far side.
        const QRect box = PixelRect(480, 1320, 1000, 1000);
        QCOMPARE(box, QRect(32, 88, 67, 67));
        for (int n = 0; n <= 100; ++n) {
            const QRect cover = PixelRect(480 + 10 * n, 1320 + 10 * n, 1000, 1000);
            QCOMPARE(cover.right(), std::max(box.right(), cover.right()));
            QCOMPARE(cover.bottom(), std::max(box.bottom(), cover.bottom()));
            QCOMPARE(cover.left(), 32 + (2 * n + 1) / 3); // 2/3 pixel a step, to the nearest
        }
        QCOMPARE(PixelRect(-520, 320, 1000, 1000).left(), -35);
    }

    void loadCopiesTheDesignOfMemberZeroAndReachesTheHandler() {
        TestForm form;
        QCOMPARE(form.Tile.Count(), 1);
        form.Tile.Load(7);
        Label& tile = form.Tile(7);
        QVERIFY(!tile.Visible());
        QCOMPARE(tile.Caption(), u"А"_s);
        QCOMPARE(tile.Width(), 405.0f);
        QCOMPARE(tile.Left(), 100.0f);
        QCOMPARE(tile.widget()->font().pixelSize(), 19); // 14.25 points
        QCOMPARE(tile.widget()->palette().color(QPalette::Window), QColor(255, 255, 0));

        QCOMPARE(errorOf([&] { form.Tile.Load(7); }), int(AlreadyLoaded));
        QCOMPARE(errorOf([&] { form.Tile(8); }), int(NoSuchArrayElement));
        QCOMPARE(errorOf([&] { form.Tile(-1); }), int(NoSuchArrayElement));

        form.window()->show();
        click(tile); // hidden: nothing
        tile.setVisible(true);
        tile.setEnabled(false);
        click(tile); // disabled: nothing
        QVERIFY(form.tileClicks.empty());
        tile.setEnabled(true);
        click(tile);
        QCOMPARE(form.tileClicks, std::vector<int>{7});
    }

    void optionValueClearsTheOthersAndClicksOnlyWhenItChanges() {
        TestForm form;
        QVERIFY(!form.Choice(0).Value() && !form.Choice(1).Value());
        form.Choice(1).setValue(true);
        QCOMPARE(form.choiceClicks, std::vector<int>{1});
        form.Choice(1).setValue(true); // already selected: no second Click
        QCOMPARE(form.choiceClicks, std::vector<int>{1});
        form.Choice(0).setValue(true);
        QVERIFY(form.Choice(0).Value() && !form.Choice(1).Value());
        QCOMPARE(form.choiceClicks, (std::vector<int>{1, 0}));

        form.window()->show();
        click(form.Choice(1));
        QVERIFY(form.Choice(1).Value() && !form.Choice(0).Value());
        QCOMPARE(form.choiceClicks, (std::vector<int>{1, 0, 1}));
        // Assistive technology toggles an option, with no click: its Click runs all the same, once.
        auto* first = static_cast<QAbstractButton*>(form.Choice(0).widget());
        first->toggle();
        QVERIFY(form.Choice(0).Value() && !form.Choice(1).Value());
        QCOMPARE(form.choiceClicks, (std::vector<int>{1, 0, 1, 0}));

        // While another handler runs (the error box shows), a toggle cannot run its Click: the
        // selection stays with the option whose Click ran last.
        form.Go.onClick = [&](Integer) {
            first->toggle();
            QVERIFY(form.Choice(1).Value() && !form.Choice(0).Value());
        };
        form.Choice(1).setValue(true);
        click(form.Go(0));
        QCOMPARE(form.choiceClicks, (std::vector<int>{1, 0, 1, 0, 1}));
    }

    void enablingARunningTimerKeepsItsPhase() {
        TestForm form;
        QList<qint64> ticks;
        QElapsedTimer clock;
        form.Clock.setInterval(200);
        form.Clock.onTimer = [&] { ticks.append(clock.elapsed()); };
        clock.start();
        form.Clock.setEnabled(true);
        QTest::qWait(120);
        form.Clock.setEnabled(true); // must not restart the period
        QTRY_COMPARE_WITH_TIMEOUT(ticks.size(), 1, 1000);
        QVERIFY2(ticks[0] < 190 + 60, qPrintable(QString::number(ticks[0])));
        form.Clock.setEnabled(false);
        QTest::qWait(250);
        QCOMPARE(ticks.size(), 1);

        // Driven by hand, ticks come only when fired, and only while enabled.
        form.Clock.DriveByHand();
        form.Clock.Fire();
        QCOMPARE(ticks.size(), 1);
        form.Clock.setEnabled(true);
        QTest::qWait(250);
        QCOMPARE(ticks.size(), 1);
        form.Clock.Fire();
        QCOMPARE(ticks.size(), 2);
    }

    void aRuntimeErrorIsReportedAndTicksWaitForTheBox() {
        TestForm form;
        form.window()->show();
        int ticks = 0;
        bool tickInsideBox = false;
        form.Clock.setInterval(20);
        form.Clock.onTimer = [&] {
            ++ticks;
            tickInsideBox = tickInsideBox || shownErrorBox() != nullptr;
        };
        form.Go.onClick = [&](Integer) {
            form.Clock.setEnabled(true);
            Val(u"1e999"_s); // overflow
            form.Box.setText(u"not reached"_s);
        };

        click(form.Go(0));
        QVERIFY(shownErrorBox()); // shown, and the click has returned
        QTest::qWait(300);
        QCOMPARE(ticks, 0);
        QCOMPARE(closeErrorBox(), u"Грешка при изпълнение 6:\nПрепълване"_s);
        QVERIFY(!tickInsideBox);
        QCOMPARE(ticks, 1); // the tick that waited ran once the box had closed
        QCOMPARE(form.Box.Text(), QString());

        // The program goes on: the next event is handled as usual.
        QTRY_VERIFY(ticks >= 3);
        form.Clock.setEnabled(false);
        form.Go.onClick = [&](Integer) { form.Box.setText(u"handled"_s); };
        click(form.Go(0));
        QCOMPARE(form.Box.Text(), u"handled"_s);
    }

    // While the error box shows, the window takes no input and a tick waits for the box. However
    // the box ends, it is freed: closed by the player (its button, Return, Esc, the window
    // system's close), the tick runs and the game goes on; when the window system closes the
    // window (on every platform, over the box) or the form is destroyed, nothing runs after.
    void howeverTheBoxEndsItIsFreed_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("goesOn");
        for (const QString& how : {u"Добре"_s, u"Return"_s, u"Esc"_s, u"the window system"_s})
            QTest::newRow(qPrintable(how)) << how << true;
        QTest::newRow("the window closed") << u"the window closed"_s << false;
        QTest::newRow("the form destroyed") << u"the form destroyed"_s << false;
    }
    void howeverTheBoxEndsItIsFreed() {
        QFETCH(QString, how);
        QFETCH(bool, goesOn);
        auto form = std::make_unique<TestForm>();
        form->window()->show();
        QVERIFY(QTest::qWaitForWindowActive(form->window()));
        int ticks = 0, clicks = 0;
        form->Clock.DriveByHand();
        // However the form goes, its box goes before the timers that the box's continuation walks.
        std::shared_ptr<void> timersGo(nullptr, [](void*) {
            QVERIFY2(!shownErrorBox(), "the form's timers went before its error box");
        });
        form->Clock.onTimer = [&ticks, timersGo = std::move(timersGo)] { ++ticks; };
        form->Go.onClick = [&](Integer) {
            ++clicks;
            form->Clock.setEnabled(true);
            Val(u"1e999"_s);
        };
        click(form->Go(0));
        const QPointer<QMessageBox> box = shownErrorBox();
        QVERIFY(box);
        QTRY_VERIFY(QApplication::activeWindow() == box); // the keyboard is the box's
        form->Clock.Fire();
        QTest::keyClicks(form->Box.widget(), u"7"_s);
        click(form->Go(0));
        // A right click's context menu would open behind the box.
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, {5, 5}, {5, 5});
        QApplication::sendEvent(form->Box.widget(), &rightClick);
        QVERIFY(!QApplication::activePopupWidget());
        QVERIFY(form->Box.Text().isEmpty());
        QCOMPARE(clicks, 1);
        QCOMPARE(ticks, 0);
        auto closeRequest = [](QWidget* window) {
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                window->windowHandle());
        };
        if (how == u"Добре") {
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->buttons().first()->text(), how);
            QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
        } else if (how == u"the window system") {
            closeRequest(box);
        } else if (how == u"the window closed") {
            closeRequest(form->window());
            QVERIFY(form->Closed() && !form->window()->isVisible());
        } else if (how == u"the form destroyed") {
            form.reset();
        } else {
            QTest::keyClick(QApplication::focusWidget(),
                            how == u"Esc" ? Qt::Key_Escape : Qt::Key_Return);
        }
        QVERIFY(!shownErrorBox());
        QTRY_VERIFY(box.isNull());
        if (form && !goesOn)
            form->Clock.Fire(); // a tick after the close: no handler runs
        QCOMPARE(ticks, goesOn ? 1 : 0);
        if (goesOn) {
            // However the player closed it, the keyboard is the window's again.
            QVERIFY(QTest::qWaitForWindowActive(form->window()));
            click(form->Go(0)); // handled, and the box shows again
        } else if (form)
            QVERIFY(!form->Deliver([&] { ++clicks; }));
        QCOMPARE(clicks, goesOn ? 2 : 1);
    }

    // As a modal box: it takes the keyboard when it shows, with no window manager to give it;
    // it stays through the window's minimizing and comes back in front when the window does;
    // Return closes it, and the keyboard goes back where it was.
    void theBoxTakesTheKeyboardAndGivesItBack() {
        TestForm form;
        form.window()->show();
        QVERIFY(QTest::qWaitForWindowActive(form.window()));
        form.Box.widget()->setFocus();
        form.Clock.DriveByHand();
        form.Clock.onTimer = [] { Val(u"1e999"_s); }; // a tick: the focus stays in the text box
        form.Clock.setEnabled(true);
        form.Clock.Fire();
        const QPointer<QMessageBox> box = shownErrorBox();
        QVERIFY(box && QTest::qWaitForWindowActive(box));
        form.window()->showMinimized();
        QTest::qWait(50);
        QVERIFY2(box && shownErrorBox() == box, "minimizing the window ended its box");
        form.window()->showNormal();
        form.window()->activateWindow(); // as a window manager does with a restored window
        QTest::qWait(50);
        QVERIFY(QTest::qWaitForWindowActive(box));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!shownErrorBox());
        QVERIFY(QTest::qWaitForWindowActive(form.window()));
        QCOMPARE(QApplication::focusWidget(), form.Box.widget());
    }

    void aTypedTextIsWhatTheBoxHolds() {
        TestForm form;
        form.window()->show();
        form.Box.widget()->setFocus();
        QTest::keyClicks(form.Box.widget(), u"7x"_s);
        QCOMPARE(form.Box.Text(), u"7x"_s);
        form.Box.setText(u"a\r\nb"_s);
        QCOMPARE(form.Box.Text(), u"a\r\nb"_s);
    }
};

QTEST_MAIN(FormsTest)
#include "forms_test.moc"
