#include "ui/input/picture_value.h"

#include <QLineEdit>
#include <algorithm>
#include <mutex>

#include "c331/c331_manage.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_frame.h"

namespace {
constexpr int kPictureFirst = 2176;
constexpr int kPictureEnd = 2192;

void writeLocked(int addr, int value) REQUIRES(c331_manage::c331_mutex) {
    store().user_wr16(addr, uint16_t(std::clamp(value, 0, 100)));
    c331_manage::raise_apply(1);
}
}  // namespace

void PictureValue::begin(const QLineEdit* field) {
    current = saved = field->text().toInt();
}

bool PictureValue::step(Op op, int addr) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    const bool plain = op == Up || op == Down;
    if (plain && c331_manage::apply_pending()) return false;
    switch (op) {
        case Up:
            ++current;
            break;
        case Down:
            --current;
            break;
        case Commit:
            saved = current;
            break;
        case Revert:
            current = saved;
            break;
    }
    current = std::clamp(current, 0, 100);
    if (addr >= 0) writeLocked(addr, current);
    return true;
}

void writePictureWord(int addr, int value) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    writeLocked(addr, value);
}

void resetPictureWords() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    for (int a = kPictureFirst; a < kPictureEnd; a += 2) store().user_wr16(a, default_ram16(a));
    c331_manage::raise_apply(1);
}

int pictureWord(int addr) {
    return int16_t(store().rd16_locked(addr));
}

void PictureEdit::begin(QLineEdit* field) {
    editing_ = 1;
    field_ = field;
    value_.begin(field);
    panel_style::apply(field, panel_style::kField, panel_style::kEdit);
}

void PictureEdit::step(PictureValue::Op op, int addr) {
    if (field_ && value_.step(op, addr)) field_->setText(QString::number(value_.current));
}

void PictureEdit::end(PictureValue::Op op, int addr) {
    editing_ = 0;
    step(op, addr);
    if (field_) panel_style::apply(field_, panel_style::kField, panel_style::kFocus);
}

void PictureEdit::reread(QLineEdit* field, int value) const {
    if (!editing()) field->setText(QString::number(value));
}
