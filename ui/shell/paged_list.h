// The entry list of the job pages (USB files, recovery results): a frame with four entries a
// page, a touch button over each, paging arrows, and one line of text when the list is empty.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

class PagedList {
public:
    static constexpr int kPerPage = 4;  // the job pages' count, and the most a page holds
    // Where the list sits in its parent and how many entries a page holds; the defaults are the
    // job pages'.
    struct Layout {
        QRect frame{10, 50, 280, 90};
        int per_page = kPerPage;
        int entry_width = 220;
        QRect empty{5, 5, 270, 20};  // the line of an empty list
        int arrow_x = 250;
        QSize arrow{20, 20};
        int next_arrow_y = 68;  // under the last row
    };
    struct Entry {
        QString text;         // rich text; empty leaves the slot empty
        bool marked = false;  // drawn highlighted
        QString style;        // a style sheet of the entry's own, in place of the list's
    };

    // The highest page index for n entries (0 for none).
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
    // Moves the touch highlight to slot k.
    void select(int k);
    // Draws slot k's entry with a style sheet of its own.
    void restyle(int k, const QString& style);

    Layout layout;
    // Asked before paging by an arrow; paging is refused while it says false.
    std::function<bool()> may_page;

    int8_t current_page = 0;
    uint8_t last_page = 0;
    uint8_t file_select = 0;
    QFrame* frame_file = nullptr;
    QLabel* slot_labels[kPerPage] = {};
    QPushButton* previous_arrow = nullptr;
    QPushButton* next_arrow = nullptr;

private:
    void redraw();
    QWidget* parent_ = nullptr;
    int count_ = 0;
    QString empty_;
    std::function<Entry(int)> entry_;
    std::function<void(int)> touched_;
};
