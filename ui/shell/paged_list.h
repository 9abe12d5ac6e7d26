// The entry list of the job pages (USB files, recovery results, scan files): a frame with a
// number of entries a page, a touch button over each, paging arrows, one line of text when the
// list is empty, and one selected entry drawn in a state of its own.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "ui/shell/panel_frame.h"

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

class PagedList {
public:
    static constexpr int kPerPage = 4;  // the job pages' count
    // Where the list sits in its parent, how many entries a page holds and how they look; the
    // defaults are the job pages'.
    struct Layout {
        QRect frame{10, 50, 280, 90};
        int per_page = kPerPage;
        int row_step = 21;  // four rows of 20 inside the 90-px frame
        int entry_width = 220;
        QRect empty{5, 5, 270, 20};  // the line of an empty list
        int arrow_x = 250;
        QSize arrow{20, 20};
        int next_arrow_y = 68;  // under the last row
        panel_style::Look look = panel_style::kListEntry;
    };
    struct Entry {
        QString text;         // rich text; empty leaves the slot empty
        bool marked = false;  // drawn marked
    };

    // The highest page index for n entries (0 for none), per_page taken as at least 1.
    static uint8_t lastPageOf(int n, int per_page = kPerPage);

    // Rebuilds the frame inside `parent`: the entries of the current page (entry(i) for list
    // index i), or `empty` when count is 0. Touching slot k calls touched(k).
    void draw(QWidget* parent, int count, const QString& empty,
              const std::function<Entry(int)>& entry, const std::function<void(int)>& touched);
    // Paging, wrapping to the first page past the last; the list is drawn again.
    void previous();
    void next();
    // Shows page `page` (0 past either end).
    void showPage(int page);
    // Selects slot k of the page shown, chosen (a touch).
    void select(int k);
    // Selects entry `index` of the list, drawn in `state`; the page holding it is shown.
    void selectEntry(int index, panel_style::State state);

    int perPage() const;
    // The list index of the page's first entry, and how many entries the page shown holds.
    int firstShown() const { return perPage() * current_page; }
    int shownCount() const;
    // The slot showing list index `index`, or -1 when it is not on the page shown.
    int slotOf(int index) const;

    Layout layout;
    // Asked before paging by an arrow; paging is refused while it says false.
    std::function<bool()> may_page;

    int8_t current_page = 0;
    uint8_t last_page = 0;
    int file_select = -1;  // list index of the selected entry; -1: none
    panel_style::State select_state = panel_style::kChosen;
    QFrame* frame_file = nullptr;
    std::vector<QLabel*> slot_labels;  // by slot of the page shown; null where empty
    QPushButton* previous_arrow = nullptr;
    QPushButton* next_arrow = nullptr;

private:
    void redraw();
    panel_style::State stateOfEntry(int index) const;
    void drawEntry(int index);
    QWidget* parent_ = nullptr;
    int count_ = 0;
    QString empty_;
    std::function<Entry(int)> entry_;
    std::function<void(int)> touched_;
    std::vector<bool> slot_marked_;
};
