// The value being edited on the picture pages (picture quality, colour temperature): each step
// goes into the parameter RAM at once under the C331 mutex with the apply flag; OK keeps it,
// Back puts back the value the edit began with.
#pragma once

#include <cstdint>

#include "c331/c331_manage.h"

class QLineEdit;

struct PictureValue {
    enum Op : char { Up = 0, Down = 1, Commit = 2, Revert = 3 };
    int32_t current = 0;
    int32_t saved = 0;

    // Starts an edit from the field's number.
    void begin(const QLineEdit* field);
    // One step on the word at addr (or none, addr < 0). A step up or down while an apply is
    // still pending is dropped (false); commit and revert are always written.
    bool step(Op op, int addr) EXCLUDES(c331_manage::c331_mutex);
};

// The word at addr = value (0..100, written whole), the C331 apply flag raised, all under
// the C331 mutex.
void writePictureWord(int addr, int value) EXCLUDES(c331_manage::c331_mutex);
// The picture and colour words (RAM 2176..2191) back to their defaults, under the mutex.
void resetPictureWords() EXCLUDES(c331_manage::c331_mutex);
// A picture word as its field shows it (signed).
int pictureWord(int addr) EXCLUDES(c331_manage::c331_mutex);

// The edit of one value field of a page: OK starts and commits it, Left and Right step it,
// Back reverts it; each step is written at once.
class PictureEdit {
public:
    bool editing() const { return editing_ != 0; }
    void begin(QLineEdit* field);
    void step(PictureValue::Op op, int addr) EXCLUDES(c331_manage::c331_mutex);
    // Commit or revert, and the field back to its focus style.
    void end(PictureValue::Op op, int addr) EXCLUDES(c331_manage::c331_mutex);
    // Outside an edit the field shows the value again (the PC or the keypad may have changed it).
    void reread(QLineEdit* field, int value) const;

private:
    uint8_t editing_ = 0;
    QLineEdit* field_ = nullptr;
    PictureValue value_;
};
