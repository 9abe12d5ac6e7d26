#include "ui/shell/number_keyboard.h"

#include <QDebug>
#include <QKeyEvent>
#include <QPushButton>
#include <QRegExpValidator>

#include "ui/shell/panel_texts.h"
#include "ui/shell/panel_view.h"
#include "ui_number_keyboard.h"

NumberKeyboard* g_numberkeyboard = nullptr;
QString l_str;
QPointer<QLineEdit> g_lineedit;

namespace {

constexpr int kDigit0 = 9, kClear = 10, kDelete = 11, kCancel = 12, kOk = 13;

}  // namespace

NumberKeyboard::NumberKeyboard(QWidget* parent) : QDialog(parent), ui(new Ui::NumberKeyboard) {
    ui->setupUi(this);
    ui->lineEdit->setValidator(
        new QRegExpValidator(QRegExp("[*0-9]+$", Qt::CaseSensitive), ui->lineEdit));
    setIcon(ui->ButtonX, pictureOf(pic::kDelete), 20, 20);
    // A touch on a digit enters it as OK on it does.
    for (int i = 0; i <= kDigit0; ++i)
        connect(button(i), &QPushButton::clicked, this, [this, i] { activate(i); });
    menulist_init();
    language_changed();
}

NumberKeyboard::~NumberKeyboard() {
    delete ui;
}

QPushButton* NumberKeyboard::button(int index) const {
    QPushButton* const list[kItems] = {ui->Button1,      ui->Button2,  ui->Button3, ui->Button4,
                                       ui->Button5,      ui->Button6,  ui->Button7, ui->Button8,
                                       ui->Button9,      ui->Button0,  ui->ButtonC, ui->ButtonX,
                                       ui->Button_close, ui->Button_ok};
    return list[index];
}

void NumberKeyboard::menulist_init() {
    std::vector<FocusRing::Item> items;
    for (int i = 0; i < kItems; ++i)
        items.push_back({button(i), i == kOk ? panel_style::kKeyOk : panel_style::kKey});
    focus_.setItems(items, 0);
    focus_.clearFocus();  // the border first shows after a move
}

void NumberKeyboard::label_show(const QString& title, const QString& text) {
    ui->label->setText(title);
    l_str.clear();
    ui->lineEdit->setText(text);
    language_changed();
}

void NumberKeyboard::language_changed() {
    if (title_) ui->label->setText(::text(*title_));
    ui->Button_close->setText(::text(words::kCancel));
    ui->Button_ok->setText(::text(words::kOk));
}

void NumberKeyboard::open_for(QObject* owner, QLineEdit* field, const QString& title,
                              const QString& text) {
    owner_ = owner;
    g_lineedit = field;
    title_ = nullptr;
    label_show(title, text);
    if (!panel::overlayShown()) exec();
}

void NumberKeyboard::open_for(QObject* owner, QLineEdit* field, const Texts& title,
                              const QString& text) {
    owner_ = owner;
    g_lineedit = field;
    title_ = &title;
    label_show(::text(title), text);
    if (!panel::overlayShown()) exec();
}

QString NumberKeyboard::text() const {
    return ui->lineEdit->text();
}

void NumberKeyboard::digit(int d) {
    if (d == 0 && l_str.toLongLong() == 0) {
        ui->lineEdit->setText("0");
        l_str.clear();
        return;
    }
    l_str += QString::number(d);
    ui->lineEdit->setText(l_str);
}

void NumberKeyboard::activate(int index) {
    if (index < kDigit0)
        digit(index + 1);
    else if (index == kDigit0)
        digit(0);
    else if (index == kClear)
        on_ButtonC_clicked();
    else if (index == kDelete)
        on_ButtonX_clicked();
    else if (index == kCancel)
        on_Button_close_clicked();
    else
        on_Button_ok_clicked();
}

void NumberKeyboard::keyPressEvent(QKeyEvent* e) {
    traceKeyPress("NumberKeyboard", e->key());
}

// The keypad's own four keys only: Mode and the keypad letters do nothing while it is open.
void NumberKeyboard::keyReleaseEvent(QKeyEvent* e) {
    switch (keyAction(e->key())) {
        case KeyAction::Left:
            focus_.move(-1);
            break;
        case KeyAction::Right:
            focus_.move(+1);
            break;
        case KeyAction::Ok:
            activate(focus_.ui_select);
            break;
        case KeyAction::Back:
            on_Button_close_clicked();
            break;
        default:
            break;
    }
}

void NumberKeyboard::on_ButtonC_clicked() {
    ui->lineEdit->setText("0");
    l_str.clear();
}

void NumberKeyboard::on_ButtonX_clicked() {
    QString t = ui->lineEdit->text();
    t.chop(1);
    ui->lineEdit->setText(t);
    l_str = t;
}

void NumberKeyboard::on_Button_ok_clicked() {
    const QString t = ui->lineEdit->text();
    hide();
    emit sendKeyBoardUIDataToLineEdit(t);
}

void NumberKeyboard::on_Button_close_clicked() {
    hide();
}

My_lineEdit::My_lineEdit(QWidget* parent) : QLineEdit(parent) {
    setText(QString());
}

void My_lineEdit::mousePressEvent(QMouseEvent* e) {
    emit send_show(text());
    QLineEdit::mousePressEvent(e);
}
