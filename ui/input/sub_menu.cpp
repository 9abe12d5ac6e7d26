#include "ui/input/sub_menu.h"

#include <QLabel>
#include <QPushButton>

void SubMenu::setup(FocusRing& focus, std::vector<SubMenuEntry> entries) {
    entries_ = std::move(entries);
    std::vector<FocusRing::Item> items;
    for (const SubMenuEntry& e : entries_) items.push_back({e.button, panel_style::kMenuWords});
    focus.setItems(std::move(items), 0);
}

void SubMenu::retext(QLabel* title, const Texts& words) const {
    title->setText(text(words));
    for (const SubMenuEntry& e : entries_) setShrunkText(e.button, text(*e.words));
}

void SubMenu::open(int index) const {
    if (index >= 0 && index < int(entries_.size())) entries_[size_t(index)].open();
}
