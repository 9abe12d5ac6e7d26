// The entry list of the job pages (USB files, recovery results): a frame with four entries a
// page, a touch button over each, paging arrows, and one line of text when the list is empty.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

class PagedList {
public:
    static constexpr int kPerPage = 4;
    struct Entry {
        QString text;         // rich text; empty leaves the slot empty
        bool marked = false;  // drawn highlighted
    };

    // The highest page index for n entries (0 for none).
    static uint8_t lastPageOf(int n);

    // Rebuilds the frame inside `parent`: the entries of the current page (entry(i) for list
    // index i), or `empty` when count is 0. Touching slot k calls touched(k).
    void draw(QWidget* parent, int count, const QString& empty,
              const std::function<Entry(int)>& entry, const std::function<void(int)>& touched);
    // Paging, wrapping to the first page past the last; the list is drawn again.
    void previous();
    void next();
    // Moves the touch highlight to slot k.
    void select(int k);

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
