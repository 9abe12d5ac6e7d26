// The panel's single on-screen number keypad (g_numberkeyboard), a frameless modal window on
// the right half of the panel, and the page protocol around it. A page opens it for one of its
// fields (open_for), the user builds a number with the front keys or by touch, and OK sends
// the text to the pages connected to sendKeyBoardUIDataToLineEdit; only the page that opened
// the keypad takes it (opened_by).
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QPushButton;
namespace Ui {
class NumberKeyboard;
}

extern QString l_str;                   // digits typed since the keypad was last opened
extern QPointer<QLineEdit> g_lineedit;  // the field being edited (0 once it is deleted)

class NumberKeyboard : public QDialog {
    Q_OBJECT

public:
    static constexpr int kItems = 14;  // 1..9, 0, C, delete, Cancel, OK

    explicit NumberKeyboard(QWidget* parent = nullptr);
    ~NumberKeyboard() override;

    // Title and text; empties l_str and re-texts the bottom buttons. Shows nothing.
    void label_show(const QString& title, const QString& text);
    // The buttons, and a title given in every language, in the language in force: also while
    // the keypad is open, when the PC changes the language.
    void language_changed();
    void menulist_init();
    // The page protocol: owner opens the keypad for field (null for a value without a field),
    // modally; returns once it is hidden.
    void open_for(QObject* owner, QLineEdit* field, const QString& title, const QString& text);
    // The same with a title that follows the language.
    void open_for(QObject* owner, QLineEdit* field, const Texts& title, const QString& text);
    // The keypad's result belongs to owner: it was the last to open it.
    bool opened_by(const QObject* owner) const { return owner && owner_ == owner; }
    QString text() const;
    int ui_select() const { return focus_.ui_select; }

signals:
    void sendKeyBoardUIDataToLineEdit(QString text);

public slots:
    void on_ButtonC_clicked();
    void on_ButtonX_clicked();
    void on_Button_ok_clicked();
    void on_Button_close_clicked();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    void digit(int d);
    void activate(int index);
    QPushButton* button(int index) const;

    Ui::NumberKeyboard* ui;
    FocusRing focus_;
    QPointer<QObject> owner_;
    const Texts* title_ = nullptr;  // the title's words, when it has some in each language
};

extern NumberKeyboard* g_numberkeyboard;

// A numeric field: a touch asks its page for the keypad (send_show with the field's text).
class My_lineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit My_lineEdit(QWidget* parent = nullptr);

signals:
    void send_show(QString text);

protected:
    void mousePressEvent(QMouseEvent* e) override;
};
