#include "ui/input/sub_menu.h"

#include <QLabel>
#include <QPushButton>

namespace {
const char* const kNormal =
    "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px "
    ";border-radius:10px;padding:2px 4px";
const char* const kFocus =
    "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
    "rgb(255,171,84);border-radius:10px;padding:2px 4px";
}  // namespace

void SubMenu::setup(FocusRing& focus, std::vector<SubMenuEntry> entries) {
    entries_ = std::move(entries);
    std::vector<FocusRing::Item> items;
    for (const SubMenuEntry& e : entries_) items.push_back({e.button, kNormal, kFocus});
    focus.setItems(std::move(items), 0);
}

void SubMenu::retext(QLabel* title, const Texts& words) const {
    title->setText(text(words));
    for (const SubMenuEntry& e : entries_) setShrunkText(e.button, text(*e.words));
}

void SubMenu::open(int index) const {
    if (index >= 0 && index < int(entries_.size())) entries_[size_t(index)].open();
}
