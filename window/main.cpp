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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("migliar"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    // Ties the window to its menu entry, so that a Wayland desktop shows the entry's name and icon.
    QApplication::setDesktopFileName(QStringLiteral(MIGLIAR_APP_ID));
    forms::FixLook(app);

    Migliar form;
    form.Start();
    return QApplication::exec();
}
