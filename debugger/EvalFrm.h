#pragma once
// A small modeless window that reads and changes one variable of the script being debugged.
#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pek {

class TfrmMacro;

class TfrmEval : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEval(TfrmMacro& debugger);

    void btnEvalClick();
    void btnChangeClick();

    QPushButton* btnEval;
    QPushButton* btnChange;
    QLineEdit* edtIdent;
    QPlainTextEdit* memValue;
    QLineEdit* edtNewValue;

private:
    TfrmMacro& debugger_;
};

}  // namespace pek
