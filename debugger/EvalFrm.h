#pragma once
// A small modeless window that reads and changes one variable of the script being debugged.
#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pek {

class TDebuggerViewModel;

class TfrmEval : public QDialog {
    Q_OBJECT
public:
    TfrmEval(TDebuggerViewModel& debugger, QWidget* owner);

    void btnEvalClick();
    void btnChangeClick();

    QPushButton* btnEval;
    QPushButton* btnChange;
    QLineEdit* edtIdent;
    QPlainTextEdit* memValue;
    QLineEdit* edtNewValue;

private:
    TDebuggerViewModel& debugger_;
};

}  // namespace pek
