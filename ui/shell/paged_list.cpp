#include "ui/shell/paged_list.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

#include "ui/shell/panel_frame.h"

namespace {

const char* const kEntryStyle = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char* const kMarkedStyle = "background-color:#4777FF;color: #FFFFFF;";
const char* const kArrowStyle = "background-color: rgb(33, 36, 53);";
constexpr int kFontPoints = 7;
constexpr int kRowStep = 21;  // four rows of 20 inside the 90-px frame

// A label of the list, in the list's font: a label with a style sheet of its own does not take
// its parent's font.
QLabel* listLabel(QFrame* frame, const QRect& place, const char* style) {
    auto* label = new QLabel(frame);
    QFont font = label->font();
    font.setPointSize(kFontPoints);
    label->setFont(font);
    label->setGeometry(place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setStyleSheet(style);
    return label;
}

// An entry's rich text as it stands when it fits the label, else cut to the characters that fit
// before a "…", each run keeping its colour.
QString elidedEntry(const QLabel* label, const QString& rich) {
    QTextDocument doc;
    doc.setHtml(rich);
    const QString plain = doc.toPlainText();
    const QFontMetrics fm(label->font());
    const QString cut = fm.elidedText(plain, Qt::ElideRight, label->contentsRect().width());
    if (cut == plain) return rich;
    int keep = cut.size() - 1;  // the characters before the "…"
    QString out;
    QString colour;
    for (QTextBlock::iterator it = doc.begin().begin(); !it.atEnd() && keep > 0; ++it) {
        const QTextFragment f = it.fragment();
        const QString part = f.text().left(keep).toHtmlEscaped();
        keep -= f.text().size();
        colour = f.charFormat().hasProperty(QTextFormat::ForegroundBrush)
                     ? f.charFormat().foreground().color().name()
                     : QString();
        out += colour.isEmpty() ? part : QString("<font color = %1 >%2</font>").arg(colour, part);
    }
    const QString dots = QString::fromUtf8("…");
    return out +
           (colour.isEmpty() ? dots : QString("<font color = %1 >%2</font>").arg(colour, dots));
}

QPushButton* arrow(QFrame* frame, PictureName name, int x, int y, QSize size) {
    auto* b = new QPushButton(frame);
    b->setObjectName(name.name);
    b->setGeometry(QRect(QPoint(x, y), size));
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(kArrowStyle);
    setIcon(b, pictureOf(name), size.width(), size.height());
    return b;
}

}  // namespace

uint8_t PagedList::lastPageOf(int n, int per_page) {
    return uint8_t(n % per_page == 0 && n != 0 ? n / per_page - 1 : n / per_page);
}

void PagedList::draw(QWidget* parent, int count, const QString& empty,
                     const std::function<Entry(int)>& entry,
                     const std::function<void(int)>& touched) {
    parent_ = parent;
    count_ = count;
    empty_ = empty;
    entry_ = entry;
    touched_ = touched;
    last_page = lastPageOf(count, layout.per_page);
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
    frame_file->setGeometry(layout.frame);
    frame_file->setStyleSheet(
        "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}");
    if (count_ == 0) {
        // No arrows beside it: the line takes the frame's width.
        QLabel* label = listLabel(frame_file, layout.empty, kEntryStyle);
        label->setObjectName("label_empty");
        label->setText(empty_);
    }
    const int per_page = std::min(layout.per_page, int(kPerPage));
    const int first = per_page * current_page;
    const int end = std::min(count_, first + per_page);
    for (int i = first; i < end; ++i) {
        const Entry e = entry_(i);
        if (e.text.isEmpty()) continue;
        const int k = i - first;
        const QRect place(5, 5 + kRowStep * k, layout.entry_width, 20);
        const QByteArray style = e.style.isEmpty()
                                     ? QByteArray(e.marked ? kMarkedStyle : kEntryStyle)
                                     : e.style.toUtf8();
        QLabel* label = listLabel(frame_file, place, style.constData());
        label->setText(elidedEntry(label, e.text));
        slot_labels[k] = label;
        auto* button = new QPushButton(frame_file);
        button->setObjectName(QString::number(k));
        button->setGeometry(place);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        QObject::connect(button, &QPushButton::clicked, frame_file, [this, k] { touched_(k); });
    }
    if (current_page >= 1) {
        previous_arrow = arrow(frame_file, pic::kPrevious, layout.arrow_x, 5, layout.arrow);
        QObject::connect(previous_arrow, &QPushButton::clicked, frame_file, [this] { previous(); });
    }
    if (current_page < last_page) {
        next_arrow =
            arrow(frame_file, pic::kNext, layout.arrow_x, layout.next_arrow_y, layout.arrow);
        QObject::connect(next_arrow, &QPushButton::clicked, frame_file, [this] { next(); });
    }
    frame_file->show();
}

void PagedList::previous() {
    if (may_page && !may_page()) return;
    showPage(std::max(0, current_page - 1));
}

void PagedList::next() {
    if (may_page && !may_page()) return;
    showPage(current_page + 1);
}

void PagedList::showPage(int page) {
    current_page = int8_t(page < 0 || page > last_page ? 0 : page);
    redraw();
}

void PagedList::restyle(int k, const QString& style) {
    if (k >= 0 && k < kPerPage && slot_labels[k]) slot_labels[k]->setStyleSheet(style);
}

void PagedList::select(int k) {
    if (QLabel* old = slot_labels[file_select % kPerPage])
        old->setStyleSheet("background-color: rgb(33, 36, 53);color: #FFFFFF;");
    file_select = uint8_t(k);
    if (QLabel* now = slot_labels[k % kPerPage]) now->setStyleSheet(kMarkedStyle);
}
