#include "migliar.h"
#include "startup.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (const QString why = forms::MissingDisplay(); !why.isEmpty()) {
        std::fprintf(stderr, "migliar: %s\n", why.toUtf8().constData());
        return 1;
    }
    forms::EnsureUtf8Locale();
    forms::PreferPlainImageTransfer();
    // The game takes no command line: Qt sees the program's name alone, so none of its own
    // options (-reverse, -stylesheet, -style, -platform ...) can change the window. A platform is
    // still chosen the usual way, through QT_QPA_PLATFORM.
    // The application and the game live apart from main()'s stack: where the event loop never
    // returns into main() (in a browser, main() ends and the page's loop runs on) they stay.
    static int nameOnly = argc > 0 ? 1 : 0;
    auto* app = new QApplication(nameOnly, argv);
    QApplication::setApplicationName(QStringLiteral("migliar"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    // Ties the window to its menu entry, so that a Wayland desktop shows the entry's name and icon.
    QApplication::setDesktopFileName(QStringLiteral(MIGLIAR_APP_ID));
    forms::SpeakBulgarian(*app);
    forms::FixLook(*app);

    auto* form = new Migliar;
    form->Start();
    const int status = QApplication::exec();
    delete form;
    delete app;
    return status;
}
