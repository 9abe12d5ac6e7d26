#include "ui/shell/zemcontrol.h"

#include <QComboBox>
#include <QLabel>

#include "ui/shell/list_keys.h"

namespace {
const char* const kLabelDefault =
    "color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)";
const char* const kLabelModify =
    "color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)";
const char* const kBoxDefault =
    "QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-"
    "down{\nborder-style:none\n}";
const char* const kBoxModify =
    "QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(71,119,255);\n}\nQComboBox:drop-"
    "down{\nborder-style:none\n}";
}  // namespace

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
    right_label->setGeometry(right);
    right_label->setFont(font_);
    left_label->setGeometry(left);
    left_label->setFont(font_);
    set_box_default();
}

void zemcontrol::setLook(const QString& label, const QString& boxStyle) {
    box->setStyleSheet(boxStyle);
    right_label->setStyleSheet(label);
    left_label->setStyleSheet(label);
}

void zemcontrol::set_box_default() {
    setLook(kLabelDefault, kBoxDefault);
}

void zemcontrol::set_box_modify() {
    setLook(kLabelModify, kBoxModify);
}

void zemcontrol::set_boxindexsel(char index) {
    box->setCurrentIndex(static_cast<unsigned char>(index));
}
