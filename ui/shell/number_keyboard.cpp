#include "ui/shell/number_keyboard.h"

#include <QPushButton>

#include "ui_number_keyboard.h"

NumberKeyboard* g_numberkeyboard = nullptr;

NumberKeyboard::NumberKeyboard(QWidget* parent) : QDialog(parent), ui(new Ui::NumberKeyboard) {
    ui->setupUi(this);
    for (QPushButton* b : findChildren<QPushButton*>()) {
        if (b->text().size() == 1 && b->text()[0].isDigit())
            connect(b, &QPushButton::clicked, this, &NumberKeyboard::digitClicked);
    }
}

NumberKeyboard::~NumberKeyboard() {
    delete ui;
}

void NumberKeyboard::label_show(const QString& title, const QString& entry) {
    ui->label_title->setText(title);
    ui->label_entry->setText(entry);
    l_str.clear();
}

void NumberKeyboard::type(QChar c) {
    if (!c.isDigit()) return;
    l_str += c;
    ui->label_entry->setText(l_str);
}

void NumberKeyboard::digitClicked() {
    if (auto* b = qobject_cast<QPushButton*>(sender())) type(b->text()[0]);
}

void NumberKeyboard::on_Button_ok_clicked() {
    hide();
    emit sendKeyBoardUIDataToLineEdit(ui->label_entry->text());
}

void NumberKeyboard::on_Button_close_clicked() {
    hide();
}
