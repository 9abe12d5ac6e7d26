// The panel's single on-screen number keypad (g_numberkeyboard), on the right half of the
// panel. A page sets its title and entry with label_show and runs exec(); OK sends the entry
// to the connected pages and hides the keypad, the close button hides it without sending.
#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class NumberKeyboard;
}

class NumberKeyboard : public QDialog {
    Q_OBJECT

public:
    explicit NumberKeyboard(QWidget* parent = nullptr);
    ~NumberKeyboard() override;

    // Title and entry; the typed text starts empty.
    void label_show(const QString& title, const QString& entry);
    // Appends a digit (other characters are ignored).
    void type(QChar c);
    QString entry() const { return l_str; }

    QString l_str;  // what was typed since label_show

signals:
    void sendKeyBoardUIDataToLineEdit(QString text);

public slots:
    void on_Button_ok_clicked();
    void on_Button_close_clicked();

private:
    void digitClicked();
    Ui::NumberKeyboard* ui;
};

extern NumberKeyboard* g_numberkeyboard;
