// Playing the game: the reveal step by step, the modes, guesses and the tallies, where the soak's
// model would not tell what went wrong as plainly (every state against every input is the
// soak's). Ticks and draws are driven by the tests; one test plays with the real timer.
#include "support.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTest>
#include <QWindow>

using namespace forms;
using namespace Qt::StringLiterals;

struct Way {
    int mode;
    float left1, top1, top99, left100, top100;
};
Q_DECLARE_METATYPE(Way)

class GameTest : public QObject {
    Q_OBJECT

  private slots:
    // The cover after the first tick, the 99th and the 100th, which ends the reveal.
    void eachFixedModeRunsItsWayInExactly100Ticks_data() {
        QTest::addColumn<Way>("way");
        QTest::newRow("Горе-Ляво") << Way{0, 490, 1330, 2310, 1480, 2320};
        QTest::newRow("Горе-Дясно") << Way{1, 470, 1330, 2310, -520, 2320};
        QTest::newRow("Долу-Ляво") << Way{2, 490, 1310, 330, 1480, 320};
        QTest::newRow("Долу-Дясно") << Way{3, 470, 1310, 330, -520, 320};
    }
    void eachFixedModeRunsItsWayInExactly100Ticks() {
        QFETCH(Way, way);
        const auto [mode, left1, top1, top99, left100, top100] = way;
        Started w;
        click(w.Option1(mode));
        QCOMPARE(w.RevealMode, Integer(mode));
        click(w.Command1(0));

        w.tick();
        QCOMPARE(stateOf(w), State::Revealing);
        QCOMPARE(w.StepCount.AsInteger(), Integer(1));
        QCOMPARE(w.Picture1.Left(), left1);
        QCOMPARE(w.Picture1.Top(), top1);
        QCOMPARE(w.Picture1.Width(), 1000.f); // the cover keeps its size

        w.tick(98);
        QCOMPARE(w.Picture1.Top(), top99);
        QVERIFY(w.Timer1.Enabled());

        w.tick();
        QCOMPARE(w.Picture1.Left(), left100);
        QCOMPARE(w.Picture1.Top(), top100);
        QCOMPARE(stateOf(w), State::RunOut);
        QCOMPARE(w.StepCount.AsInteger(), Integer(0));
        w.tick(); // a stale tick after the end moves nothing
        QCOMPARE(w.Picture1.Top(), top100);

        // "Покажи" again starts the same letter over from step 1.
        w.reveal(1);
        QCOMPARE(w.Picture1.Left(), left1);
        QCOMPARE(w.Picture1.Top(), top1);
    }

    // In random mode each tick draws a way and the cover stands where the step count puts it
    // that way from the letter box, whatever earlier ticks drew; the 100th tick ends the reveal.
    // The draws take turns: 0.125 (12, top-left), 0.375 (38, bottom-left), 0.01 (top-right),
    // 0.03 (bottom-right), 0.995 (100, top-left).
    void randomModePlacesTheCoverFromTheStepAloneAndEndsAt100() {
        Started w;
        const float ways[] = {0.125f, 0.375f, 0.01f, 0.03f, 0.995f};
        int draws = 0;
        SetRandomSource([&] { return ways[draws++ % 5]; });
        const auto reset = qScopeGuard([] { SetRandomSource({}); }); // a failed check returns
        w.reveal();
        const struct {
            int step;
            float left, top;
        } seen[] = {{1, 490, 1330}, {2, 500, 1300},  {3, 450, 1350},  {4, 440, 1280},
                    {5, 530, 1370}, {50, 980, 1820}, {99, -510, 330}, {100, 1480, 2320}};
        int step = 0;
        for (const auto& at : seen) {
            w.tick(at.step - step);
            step = at.step;
            QCOMPARE(w.Picture1.Left(), at.left);
            QCOMPARE(w.Picture1.Top(), at.top);
            QCOMPARE(w.Timer1.Enabled(), step < 100);
        }
        QCOMPARE(draws, 100); // one draw a tick
    }

    void theModeCanChangeUntilTheFirstTick() {
        Started w;
        click(w.Command1(0));
        click(w.Option1(1)); // still enabled before the first tick
        w.tick();
        QCOMPARE(w.RevealMode, Integer(1));
        QCOMPARE(w.Picture1.Left(), 470.f);
        click(w.Option1(0)); // greyed out now
        QCOMPARE(w.RevealMode, Integer(1));
        QVERIFY(w.Option1(1).Value());
    }

    void theKeyboardChoosesTheModeToo() {
        Started w;
        QVERIFY(QTest::qWaitForWindowActive(w.window()));
        w.Option1(4).widget()->setFocus();
        QTest::keyClick(w.Option1(4).widget(), Qt::Key_Up);
        QVERIFY(w.Option1(3).Value());
        QCOMPARE(w.RevealMode, Integer(3));
    }

    void aRightGuessAtStep37() {
        Started w;
        click(w.Option1(0));
        w.reveal(37);
        const float coverLeft = w.Picture1.Left();
        click(rightLabel(w));
        QCOMPARE(w.Text1(0).Text(), u"Да\r\nСлед брой стъпки: 37\r\n"_s);
        QCOMPARE(w.Text3(0).Text(), u"1"_s);
        QCOMPARE(w.Text3(1).Text(), QString());
        QVERIFY(!w.Timer1.Enabled() && !w.Command1(0).Enabled());
        QCOMPARE(w.StepCount.AsInteger(), Integer(37));
        QCOMPARE(w.Picture1.Left(), coverLeft);
        // The box shows two lines and an empty third.
        auto* box = qobject_cast<QPlainTextEdit*>(w.Text1(0).widget());
        QVERIFY(box);
        QCOMPARE(box->toPlainText(), u"Да\nСлед брой стъпки: 37\n"_s);
        QCOMPARE(box->document()->blockCount(), 3);

        click(w.Command1(1));
        QCOMPARE(w.Text1(0).Text(), kPrompt);
        w.reveal(3);
        click(rightLabel(w));
        QCOMPARE(w.Text3(0).Text(), u"2"_s);
        click(w.Command1(1));
        click(w.Command1(0));
        click(wrongLabel(w));
        QCOMPARE(w.Text1(0).Text(), verdict(u"Не"_s, 0));
        QCOMPARE(w.Text3(1).Text(), u"1"_s);
        QCOMPARE(w.Text3(0).Text(), u"2"_s);
    }

    void aTypedTallyCountsOnFromWhatValReads_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::newRow("7") << u"7"_s << u"8"_s;
        QTest::newRow("letters") << u"много"_s << u"1"_s;
        QTest::newRow("blanks and a tail") << u"  41 точки"_s << u"42"_s;
        QTest::newRow("negative") << u"-1"_s << u"0"_s;
        QTest::newRow("fraction") << u"2.5"_s << u"3.5"_s;
        QTest::newRow("exponent") << u"1e3"_s << u"1001"_s;
        QTest::newRow("huge") << u"1e300"_s << u"1E+300"_s;
    }
    void aTypedTallyCountsOnFromWhatValReads() {
        QFETCH(QString, typed);
        QFETCH(QString, after);
        Started w;
        typeInto(w.Text3(0).widget(), typed);
        QCOMPARE(w.Text3(0).Text(), typed);
        click(w.Command1(0));
        click(rightLabel(w));
        QCOMPARE(w.Text3(0).Text(), after);
    }

    void aTallyValCannotHoldIsReportedAndTheGameGoesOn() {
        Started w;
        w.Text3(1).setText(u"5"_s);
        typeInto(w.Text3(0).widget(), u"1e999"_s);
        w.reveal(3);
        const QString message = w.Text1(0).Text();

        click(rightLabel(w));
        QCOMPARE(closeErrorBox(), u"Грешка при изпълнение 6:\nПрепълване"_s);
        QCOMPARE(w.Text3(0).Text(), u"1e999"_s);
        QCOMPARE(w.Text3(1).Text(), u"5"_s);
        QCOMPARE(w.Label2.Count(), 31);
        // The failed guess wrote nothing: no verdict without its step line, and the reveal runs on.
        QCOMPARE(w.Text1(0).Text(), message);
        QCOMPARE(stateOf(w), State::Revealing);
        w.tick();
        QCOMPARE(w.StepCount.AsInteger(), Integer(4));

        // Playable: clear the tally, "Чисти", and the next guess counts.
        w.Text3(0).setText(QString());
        click(w.Command1(1));
        QCOMPARE(stateOf(w), State::Ready);
        w.reveal(1);
        click(rightLabel(w));
        QCOMPARE(w.Text3(0).Text(), u"1"_s);
        QCOMPARE(w.Text3(1).Text(), u"5"_s);
    }

    void clearingDuringARevealKeepsTalliesModeAndQuotation() {
        Started w;
        w.Text3(0).setText(u"3"_s);
        w.Text3(1).setText(u"4"_s);
        click(w.Option1(3));
        w.reveal(42);
        w.Picture1.setWidth(730); // a cover out of shape goes back to the letter box's
        w.Picture1.setHeight(1210);
        const QString quotation = w.Text1(1).Text();
        click(w.Command1(1));
        QCOMPARE(stateOf(w), State::Ready);
        QCOMPARE(w.Text1(0).Text(), kPrompt);
        QCOMPARE(w.Text3(0).Text(), u"3"_s);
        QCOMPARE(w.Text3(1).Text(), u"4"_s);
        QCOMPARE(w.Text1(1).Text(), quotation);
        QCOMPARE(w.RevealMode, Integer(3));
        QVERIFY(w.Option1(3).Value());
        QCOMPARE(w.Picture1.Left(), 480.f);
        QCOMPARE(w.Picture1.Top(), 1320.f);
        QCOMPARE(w.Picture1.Width(), 1000.f);
        QCOMPARE(w.Picture1.Height(), 1000.f);
    }

    // A press on a letter that the pupil drags off before letting go is no guess; nor is a press
    // elsewhere released on a letter.
    void aPressDraggedOffALetterIsNoGuess() {
        Started w;
        QVERIFY(w.exposed());
        w.reveal(5);
        QWindow* window = w.window()->windowHandle();
        const QPoint letter = pixelsOf(rightLabel(w)).center();
        const QPoint away = letter + QPoint(0, 60);
        QTest::mousePress(window, Qt::LeftButton, {}, letter);
        QTest::mouseMove(window, away);
        QTest::mouseRelease(window, Qt::LeftButton, {}, away);
        QTest::mousePress(window, Qt::LeftButton, {}, away);
        QTest::mouseMove(window, letter);
        QTest::mouseRelease(window, Qt::LeftButton, {}, letter);
        QCOMPARE(stateOf(w), State::Revealing);
        QCOMPARE(w.Text3(0).Text(), QString());
        QTest::mouseClick(window, Qt::LeftButton, {}, letter); // a click still counts
        QCOMPARE(w.Text3(0).Text(), u"1"_s);
    }

    // A whole game through real mouse clicks on the shown window, with the real timer.
    void aWholeGameWithTheMouse() {
        Started w(std::nullopt, true);
        QVERIFY(w.exposed());
        click(w.Option1(0));
        click(w.Command1(0));
        QTRY_VERIFY_WITH_TIMEOUT(w.StepCount.AsInteger() >= Integer(3), 2000);
        QCOMPARE(stateOf(w), State::Revealing);
        QCOMPARE(w.Picture1.Left() - 480, w.Picture1.Top() - 1320); // top-left: right and down
        click(rightLabel(w));
        const int steps = w.StepCount.AsInteger().value();
        QCOMPARE(w.Text1(0).Text(), verdict(u"Да"_s, steps));
        QCOMPARE(w.Text3(0).Text(), u"1"_s);
        QVERIFY(!w.Command1(0).widget()->isEnabled());
        QTest::qWait(250);
        QCOMPARE(w.StepCount.AsInteger().value(), steps); // the reveal has stopped
        click(w.Command1(1));
        QCOMPARE(w.Text1(0).Text(), kPrompt);
        QVERIFY(w.Command1(0).widget()->isEnabled());
    }
};

QTEST_MAIN(GameTest)
#include "game_test.moc"
