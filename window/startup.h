// What start-up needs before and around the window: a display to show it on, and a look that
// does not depend on the desktop's theme.
#pragma once

#include <QString>

class QApplication;

namespace forms {

// Empty when a window can be shown; otherwise why not, in one line.
QString MissingDisplay();

// A UTF-8 character locale for Qt and Xlib: with none (a bare "C"), the window's Cyrillic title
// reaches the X server garbled. Call before the application object is made.
void EnsureUtf8Locale();

// Plain image transfers to the X server instead of shared memory: for a window this small they
// cost less, and each shared-memory frame wakes the process three times instead of once.
// Call before the application object is made.
void PreferPlainImageTransfer();

// Qt's own texts that a pupil can meet (a text box's context menu, a scroll bar's menu, what a
// screen reader says of a button's action) in Bulgarian, whatever language the desktop runs in.
void SpeakBulgarian(QApplication& app);

// A fixed style and palette: the window's colours and fonts show the same on every desktop.
// Where the game carries its own typefaces (in a browser, which offers Qt none), they stand in
// for the design's: Liberation Serif, of Times New Roman's widths, for Times New Roman.
void FixLook(QApplication& app);

// The game from start to end, as main() runs it: refuses without a display, makes the
// application, starts the game and runs the event loop; then the game goes, and the application
// after it. Returns what the program returns.
int RunGame(int argc, char* argv[], const char* desktopFileName, const char* version);

} // namespace forms
