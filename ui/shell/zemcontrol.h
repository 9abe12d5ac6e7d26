// A selector of one entry of a list: a combo box between a "<" and a ">" label, in the default
// look (orange: the item has the focus) or the modify look (blue: the page works on the chosen
// entry). It takes no key and sends nothing; its owner moves the selection and the look.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

#include "ui/shell/panel_frame.h"

class QComboBox;
class QLabel;

class zemcontrol : public QWidget {
public:
    // The combo box's, the "<" label's and the ">" label's rectangles, in the widget.
    zemcontrol(QRect box, QRect left, QRect right, QWidget* parent);

    void set_box_default();
    void set_box_modify();
    void set_boxindexsel(char index);

    QComboBox* box;
    QLabel* left_label;
    QLabel* right_label;

private:
    void setLook(panel_style::State state);

    QFont font_;
};
