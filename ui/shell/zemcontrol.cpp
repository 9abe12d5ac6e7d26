#include "ui/shell/zemcontrol.h"

#include <QComboBox>
#include <QLabel>

#include "ui/shell/list_keys.h"

zemcontrol::zemcontrol(QRect boxRect, QRect left, QRect right, QWidget* parent)
    : QWidget(parent),
      box(new QComboBox(this)),
      left_label(new QLabel("<", this)),
      right_label(new QLabel(">", this)) {
    font_.setPointSize(9);
    box->setObjectName("zemcontrol");
    box->setGeometry(boxRect);
    box->setFont(font_);
    box->setFocusPolicy(Qt::NoFocus);
    closeListOnKeys(box);  // a touch opens its list; the owner's keys step the entries
    placeListOnPanel(box);
    right_label->setGeometry(right);
    right_label->setFont(font_);
    left_label->setGeometry(left);
    left_label->setFont(font_);
    set_box_default();
}

void zemcontrol::setLook(panel_style::State state) {
    panel_style::apply(box, panel_style::kSelector, state);
    panel_style::apply(right_label, panel_style::kSelectorArrow, state);
    panel_style::apply(left_label, panel_style::kSelectorArrow, state);
}

void zemcontrol::set_box_default() {
    setLook(panel_style::kFocus);
}

void zemcontrol::set_box_modify() {
    setLook(panel_style::kEdit);
}

void zemcontrol::set_boxindexsel(char index) {
    box->setCurrentIndex(static_cast<unsigned char>(index));
}
