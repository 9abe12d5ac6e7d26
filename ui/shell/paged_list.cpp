#include "ui/shell/paged_list.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "ui/shell/panel_frame.h"

namespace {

const char* const kEntryStyle = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char* const kMarkedStyle = "background-color:#4777FF;color: #FFFFFF;";
const char* const kArrowStyle = "background-color: rgb(33, 36, 53);";

QPushButton* arrow(QFrame* frame, PictureName name, int y) {
    auto* b = new QPushButton(frame);
    b->setObjectName(name.name);
    b->setGeometry(250, y, 20, 20);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(kArrowStyle);
    setIcon(b, pictureOf(name), 20, 20);
    return b;
}

}  // namespace

uint8_t PagedList::lastPageOf(int n) {
    return uint8_t(n % kPerPage == 0 && n != 0 ? n / kPerPage - 1 : n / kPerPage);
}

void PagedList::draw(QWidget* parent, int count, const QString& empty,
                     const std::function<Entry(int)>& entry,
                     const std::function<void(int)>& touched) {
    parent_ = parent;
    count_ = count;
    empty_ = empty;
    entry_ = entry;
    touched_ = touched;
    last_page = lastPageOf(count);
    if (current_page > last_page) current_page = 0;
    redraw();
}

void PagedList::redraw() {
    // An arrow of the old frame may be the one being clicked: it goes once its click is over.
    if (frame_file) {
        frame_file->hide();
        frame_file->setObjectName(QString());
        frame_file->deleteLater();
    }
    for (QLabel*& l : slot_labels) l = nullptr;
    previous_arrow = next_arrow = nullptr;
    frame_file = new QFrame(parent_);
    frame_file->setObjectName("frame_file");
    frame_file->setGeometry(10, 50, 280, 90);
    frame_file->setStyleSheet(
        "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}");
    QFont font = frame_file->font();
    font.setPointSize(7);
    frame_file->setFont(font);
    if (count_ == 0) {
        auto* label = new QLabel(frame_file);
        label->setObjectName("label_empty");
        label->setGeometry(5, 5, 220, 20);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setStyleSheet(kEntryStyle);
        setFittedText(label, empty_);
    }
    const int first = kPerPage * current_page;
    const int end = std::min(count_, first + kPerPage);
    for (int i = first; i < end; ++i) {
        const Entry e = entry_(i);
        if (e.text.isEmpty()) continue;
        const int k = i - first;
        const QRect place(5, 5 + 25 * k, 220, 20);
        auto* label = new QLabel(e.text, frame_file);
        label->setGeometry(place);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setStyleSheet(e.marked ? kMarkedStyle : kEntryStyle);
        slot_labels[k] = label;
        auto* button = new QPushButton(frame_file);
        button->setObjectName(QString::number(k));
        button->setGeometry(place);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        QObject::connect(button, &QPushButton::clicked, frame_file, [this, k] { touched_(k); });
    }
    if (current_page >= 1) {
        previous_arrow = arrow(frame_file, pic::kPrevious, 5);
        QObject::connect(previous_arrow, &QPushButton::clicked, frame_file, [this] { previous(); });
    }
    if (current_page < last_page) {
        next_arrow = arrow(frame_file, pic::kNext, 65);
        QObject::connect(next_arrow, &QPushButton::clicked, frame_file, [this] { next(); });
    }
    frame_file->show();
}

void PagedList::previous() {
    if (current_page > 0) --current_page;
    redraw();
}

void PagedList::next() {
    current_page = int8_t(current_page + 1);
    if (current_page > last_page) current_page = 0;
    redraw();
}

void PagedList::select(int k) {
    if (QLabel* old = slot_labels[file_select % kPerPage])
        old->setStyleSheet("background-color: rgb(33, 36, 53);color: #FFFFFF;");
    file_select = uint8_t(k);
    if (QLabel* now = slot_labels[k % kPerPage]) now->setStyleSheet(kMarkedStyle);
}
