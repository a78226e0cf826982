// The window's title bar where the game draws its own: on Wayland and in a browser, Qt draws the
// frame itself and gives it a maximize button, whatever the window asks for and even at a fixed
// size. The game's own bar shows the title, the icon and a close button only; in a browser no
// close button, as a page has no window to close.
#pragma once

#include <QWidget>

#include <memory>

namespace forms {

// True where a window gets its frame from the game rather than from the desktop.
bool DrawsOwnTitleBar();
// Tests have the game draw its own frame on any platform (offscreen too), or again where it must.
void DrawOwnTitleBarEverywhere(bool everywhere);

// Puts `window`, a top-level window with a fixed size that is not shown yet, into a frame of the
// game's own: the title bar above it and a thin edge around. The frame takes the window's title
// and icon, and follows them when they change; its size is fixed too. Closing the frame closes
// `window` first, and a window that refuses to close keeps the frame open. Delete `window`
// before the frame.
std::unique_ptr<QWidget> FrameWithTitleBar(QWidget* window);

} // namespace forms
