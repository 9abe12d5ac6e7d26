// A combo box whose list a touch opens, while the pages' keys step its entries without opening
// it: the keys never reach an open list's own handling (where F4, the Left key's code, would be
// the only one to close it), and they must not act on the page under it either.
#pragma once

class QComboBox;

// While the list of box is open, any key closes it at its release, keeps the entry chosen
// before, and goes no further: not to the page, not to the keypad's letters.
void closeListOnKeys(QComboBox* box);
