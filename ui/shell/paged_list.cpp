#include "ui/shell/paged_list.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

#include "ui/shell/panel_frame.h"

namespace {

const char* const kArrowStyle = "background-color: rgb(33, 36, 53);";
constexpr int kFontPoints = 7;

// A label of the list, in the list's font: a label with a style sheet of its own does not take
// its parent's font.
QLabel* listLabel(QFrame* frame, const QRect& place, panel_style::Look look,
                  panel_style::State state) {
    auto* label = new QLabel(frame);
    QFont font = label->font();
    font.setPointSize(kFontPoints);
    label->setFont(font);
    label->setGeometry(place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel_style::apply(label, look, state);
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
    per_page = std::max(1, per_page);
    return uint8_t(n % per_page == 0 && n != 0 ? n / per_page - 1 : n / per_page);
}

int PagedList::perPage() const {
    return std::max(1, layout.per_page);
}

int PagedList::shownCount() const {
    return std::max(0, std::min(perPage(), count_ - firstShown()));
}

int PagedList::slotOf(int index) const {
    const int k = index - firstShown();
    return index >= 0 && k >= 0 && k < shownCount() ? k : -1;
}

void PagedList::draw(QWidget* parent, int count, const QString& empty,
                     const std::function<Entry(int)>& entry,
                     const std::function<void(int)>& touched) {
    parent_ = parent;
    count_ = count;
    empty_ = empty;
    entry_ = entry;
    touched_ = touched;
    last_page = lastPageOf(count, perPage());
    if (current_page > last_page) current_page = 0;
    redraw();
}

panel_style::State PagedList::stateOfEntry(int index) const {
    if (index == file_select) return select_state;
    const int k = slotOf(index);
    return k >= 0 && slot_marked_[k] ? panel_style::kMarked : panel_style::kNormal;
}

void PagedList::redraw() {
    // An arrow of the old frame may be the one being clicked: it goes once its click is over.
    if (frame_file) {
        frame_file->hide();
        frame_file->setObjectName(QString());
        frame_file->deleteLater();
    }
    slot_labels.assign(perPage(), nullptr);
    slot_marked_.assign(perPage(), false);
    previous_arrow = next_arrow = nullptr;
    frame_file = new QFrame(parent_);
    frame_file->setObjectName("frame_file");
    frame_file->setGeometry(layout.frame);
    frame_file->setStyleSheet(
        "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}");
    if (count_ == 0) {
        // No arrows beside it: the line takes the frame's width.
        QLabel* label = listLabel(frame_file, layout.empty, layout.look, panel_style::kNormal);
        label->setObjectName("label_empty");
        label->setText(empty_);
    }
    const int first = firstShown();
    for (int k = 0; k < shownCount(); ++k) {
        const Entry e = entry_(first + k);
        if (e.text.isEmpty()) continue;
        slot_marked_[k] = e.marked;
        const QRect place(5, 5 + layout.row_step * k, layout.entry_width, 20);
        QLabel* label = listLabel(frame_file, place, layout.look, stateOfEntry(first + k));
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

void PagedList::drawEntry(int index) {
    const int k = slotOf(index);
    if (k >= 0 && slot_labels[k])
        panel_style::apply(slot_labels[k], layout.look, stateOfEntry(index));
}

void PagedList::select(int k) {
    selectEntry(firstShown() + k, panel_style::kChosen);
}

void PagedList::selectEntry(int index, panel_style::State state) {
    const int before = file_select;
    file_select = index;
    select_state = state;
    const int page = index / perPage();
    if (index >= 0 && page != current_page && page <= last_page) return showPage(page);
    drawEntry(before);
    drawEntry(index);
}
