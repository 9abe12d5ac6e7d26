// A combo box whose list a touch opens; no page opens it by its keys. Left's code is F4, the
// only key an open list knows (it closes the list at the press, leaving the release to the
// page); the list swallows every other key, Back and Mode among them.
#pragma once

class QComboBox;

// While the list of box is open, any key closes it at its release, keeps the entry chosen
// before, and goes no further: not to the page, not to the keypad's letters.
void closeListOnKeys(QComboBox* box);
