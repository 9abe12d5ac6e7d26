// The panel seen and worked from outside the pages: which widget takes a key or a touch, and
// the whole 320 x 240 panel as one picture. Main (GUI) thread only.
#pragma once

#include <QImage>
#include <QPoint>

class QWidget;
class QWindow;

namespace panel {

// The number keypad while it is open over a page, else the page in front; null before the
// panel exists.
QWidget* keyTarget();
// The window a key of the panel goes to: the active modal window, else the page in front, else
// the focus window; null before the panel exists.
QWindow* keyWindow();
// A key pressed and released on keyWindow(), queued to that window as the box's keys reach it:
// a modal window (a tip, the keypad) blocks it from the pages beneath, and a key that opens a
// page (a nested loop) does not hold the caller; false when there is no window.
bool postKey(int code);
// A touch at a point of the panel (0..319, 0..239) on the widget under it, pressed and
// released through the event queue; false when nothing of the panel is there.
bool postTouch(QPoint at);
// The panel as a person sees it: the main menu, the pages open under the one in front, that
// page, and the keypad and a tip over them.
QImage image();

}  // namespace panel
