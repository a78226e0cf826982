#include "startup.h"

#include "migliar.h"

#include <QApplication>
#include <QDirIterator>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <dlfcn.h>
#include <langinfo.h>
#endif

namespace forms {

namespace {

QString environment(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

#if defined(__linux__)
// Asks the X server itself, through the same libxcb that Qt would load, so that an unreachable
// display gives our message rather than Qt's abort.
bool xServerAnswers(const QByteArray& display) {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return true; // let Qt find out and say
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool answers = true;
    if (connect && hasError && disconnect) {
        void* connection = connect(display.constData(), nullptr);
        answers = hasError(connection) == 0;
        disconnect(connection);
    }
    dlclose(xcb);
    return answers;
}
#endif

} // namespace

QString MissingDisplay() {
#if defined(_WIN32) || defined(__EMSCRIPTEN__)
    return {}; // no DISPLAY there: Windows' desktop or the browser's page is always there
#endif
    const QString platform = environment("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(u"xcb"))
        return {}; // offscreen, wayland and the like: Qt's own business
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        if (platform.isEmpty() && !environment("WAYLAND_DISPLAY").isEmpty())
            return {};
        return QStringLiteral("няма графичен дисплей (DISPLAY не е зададен); играта се пуска "
                              "от работния плот");
    }
#if defined(__linux__)
    if (!xServerAnswers(display))
        return QStringLiteral("няма връзка с графичния дисплей %1")
            .arg(QString::fromLocal8Bit(display));
#endif
    return {};
}

void EnsureUtf8Locale() {
#if defined(__linux__)
    if (std::setlocale(LC_ALL, "") && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0)
        return;
    // Only the character set changes; the game formats nothing by locale.
    qputenv("LC_ALL", "C.UTF-8");
    std::setlocale(LC_ALL, "C.UTF-8");
#endif
}

void PreferPlainImageTransfer() {
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

void SpeakBulgarian(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral(":/translations/qtbase_bg.qm")))
        QCoreApplication::installTranslator(translator);
}

void FixLook(QApplication& app) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(QApplication::style()->standardPalette());
    // Only the browser build carries fonts; a desktop's own font configuration maps the names.
    for (QDirIterator files(QStringLiteral(":/fonts-of-the-game")); files.hasNext();) {
        const int id = QFontDatabase::addApplicationFont(files.next());
        if (QFontDatabase::applicationFontFamilies(id).contains(u"Liberation Serif"))
            QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                                      QStringLiteral("Liberation Serif"));
    }
}

int RunGame(int argc, char* argv[], const char* desktopFileName, const char* version) {
    if (const QString why = MissingDisplay(); !why.isEmpty()) {
        std::fprintf(stderr, "migliar: %s\n", why.toUtf8().constData());
        return 1;
    }
    EnsureUtf8Locale();
    PreferPlainImageTransfer();
    // The game takes no command line: Qt sees the program's name alone, so none of its own
    // options (-reverse, -stylesheet, -style, -platform ...) can change the window. A platform is
    // still chosen the usual way, through QT_QPA_PLATFORM.
    // The application and the game live apart from this function's stack: where the event loop
    // never returns here (in a browser, main() ends and the page's loop runs on) they stay.
    static int nameOnly;
    nameOnly = argc > 0 ? 1 : 0;
    auto* app = new QApplication(nameOnly, argv);
    QApplication::setApplicationName(QStringLiteral("migliar"));
    QApplication::setApplicationVersion(QString::fromLatin1(version));
    // Ties the window to its menu entry, so that a Wayland desktop shows the entry's name and icon.
    QApplication::setDesktopFileName(QString::fromLatin1(desktopFileName));
    SpeakBulgarian(*app);
    FixLook(*app);

    auto* form = new Migliar;
    form->Start();
    // In a browser, what the showing set off (the window's activation among it) is handled
    // before the first paint, so that the window is painted once, active: the repaint that the
    // activation asked for came right after the first frame and held its showing back. Elsewhere
    // exec() handles it, and a quit that came before exec() would be lost.
    if (QGuiApplication::platformName() == u"wasm")
        QCoreApplication::processEvents();
    const int status = QApplication::exec();
    delete form; // its window and widgets need the application
    delete app;
    return status;
}

} // namespace forms
