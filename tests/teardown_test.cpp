// The game's run as main() makes it, from the application's making to the end: the game goes
// before the application (its window and widgets need it), and both go.
#include "startup.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

QStringList gone; // what went, in order

} // namespace

class TeardownTest : public QObject {
    Q_OBJECT

  private slots:
    void theGameGoesBeforeTheApplicationAndBothGo() {
        // Called as the run makes its application: the player closes the window once it shows.
        qAddPreRoutine([] {
            QObject::connect(qApp, &QObject::destroyed, [] { gone << u"application"_s; });
            QTimer::singleShot(0, [] {
                for (QWidget* window : QApplication::topLevelWidgets()) {
                    if (!window->isVisible())
                        continue;
                    QObject::connect(window, &QObject::destroyed, [] {
                        gone << (qApp ? u"game"_s : u"game, after the application"_s);
                    });
                    window->close();
                }
            });
        });
        char name[] = "migliar";
        char* argv[] = {name, nullptr};
        QCOMPARE(forms::RunGame(1, argv, "example.migliar.Test", "0"), 0);
        QCOMPARE(gone, (QStringList{u"game"_s, u"application"_s}));
    }
};

QTEST_APPLESS_MAIN(TeardownTest)
#include "teardown_test.moc"
