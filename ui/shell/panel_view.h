// The panel seen and worked from outside the pages: which widget takes a key or a touch, and
// the whole 320 x 240 panel as one picture. Main (GUI) thread only.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <vector>

class QWidget;
class QWindow;

namespace panel {

// The number keypad while it is open over a page, else the page in front; null before the
// panel exists.
QWidget* keyTarget();
// The window a key of the panel goes to: the upgrade overlay while it shows (it drops the key),
// the active modal window, else the page in
// front, else the focus window; null before the panel exists. While a pop-up list is open, Qt
// hands the key to the list whichever window it reaches.
QWindow* keyWindow();
// A key pressed and released on keyWindow(), queued to that window as the box's keys reach it:
// a modal window (a tip, the keypad) blocks it from the pages beneath, and a key that opens a
// page (a nested loop) does not hold the caller; false when there is no window.
bool postKey(int code);
// A touch at a point of the panel (0..319, 0..239), pressed and released through the event
// queue on the top-level window under it, which hands it to its child there as Qt does: an
// open pop-up list takes it wherever it falls, and a window beneath a modal one (a tip, the
// keypad, a page's loop) refuses it. False when no window of the panel is there.
bool postTouch(QPoint at);
// The panel's shown top-level windows from the bottom up, as they are drawn and touched: the
// main menu, the pages open under the one in front, that page, the keypad, a tip, an open
// pop-up list and the upgrade overlay.
std::vector<QWidget*> windows();
// The panel as a person sees it: windows() drawn each at its place.
QImage image();
// What is open over the page in front: the active pop-up list, else a modal window that is no
// page (a tip, the keypad, the upgrade overlay); null when there is none.
QWidget* overPage();
// Puts a shown window over the others; a hidden one is left where it is.
void raiseShown(QWidget* window);
// The upgrade overlay covers the panel: no tip, keypad or page opens a loop meanwhile, since
// the window of a newer loop would take the keys from under the overlay.
bool overlayShown();
// The panel's rectangle on the screen (320 x 240 at the main menu's place).
QRect area();

}  // namespace panel
