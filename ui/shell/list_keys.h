// A combo box whose list a touch opens; no page opens it by its keys. Left's code is F4, the
// only key an open list knows (it closes the list at the press, leaving the release to the
// page); the list swallows every other key, Back and Mode among them.
#pragma once

#include <functional>

class QComboBox;

// While the list of box is open, any key closes it at its release, keeps the entry chosen
// before, and goes no further: not to the page, not to the keypad's letters. A new language
// closes it too (closeListsForNewLanguage).
void closeListOnKeys(QComboBox* box);
// Closes the open list of every such box, keeping its entry, before a new language reaches the
// pages: a list left open keeps the old words' widths and loses its chosen row's look.
void closeListsForNewLanguage();
// The list of box opens inside the panel, as Qt keeps it inside the box's 320 x 240 screen: at
// most the panel's height, scrolling, its current entry in view. Where the screen is the panel
// (the box) nothing moves; a larger screen (a simulated panel) would let it run off the panel.
void placeListOnPanel(QComboBox* box);
// A touched entry that the page does not take (its keys choose): when the list closes on it, the
// box shows again at once the entry in_force gives, so that it never shows one not in force.
void showInForceOnTouch(QComboBox* box, std::function<int()> in_force);
