// What the output, communication and picture menus share: a row of text buttons, each opening
// one page, the focus moving round the row, and the titles and words in the language in force.
#pragma once

#include <vector>

#include "ui/shell/panel_frame.h"

class QLabel;
class QPushButton;

struct SubMenuEntry {
    QPushButton* button;
    const Texts* words;
    void (*open)();
};

class SubMenu {
public:
    // Takes the entries in focus order and puts the focus on the first.
    void setup(FocusRing& focus, std::vector<SubMenuEntry> entries);
    void retext(QLabel* title, const Texts& words) const;
    // Opens the page of entry index (OK on it).
    void open(int index) const;

private:
    std::vector<SubMenuEntry> entries_;
};
