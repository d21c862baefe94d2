#include "debugger/EvalFrm.h"

#include "debugger/DebuggerViewModel.h"
#include "platform/CodePage.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace pek {

TfrmEval::TfrmEval(TDebuggerViewModel& debugger, QWidget* owner) : QDialog(owner), debugger_(debugger)
{
    setObjectName("frmEval");
    setWindowTitle(Ui("評価/変更"));
    setModal(false);
    auto* grid = new QGridLayout(this);
    edtIdent = new QLineEdit(this);
    edtIdent->setObjectName("edtIdent");
    memValue = new QPlainTextEdit(this);
    memValue->setObjectName("memValue");
    memValue->setReadOnly(true);
    edtNewValue = new QLineEdit(this);
    edtNewValue->setObjectName("edtNewValue");
    btnEval = new QPushButton(Ui("評価(&V)"), this);
    btnEval->setObjectName("btnEval");
    btnChange = new QPushButton(Ui("変更(&M)"), this);
    btnChange->setObjectName("btnChange");
    grid->addWidget(new QLabel(Ui("評価する変数"), this), 0, 0);
    grid->addWidget(edtIdent, 1, 0);
    grid->addWidget(btnEval, 1, 1);
    grid->addWidget(new QLabel(Ui("結果"), this), 2, 0);
    grid->addWidget(memValue, 3, 0, 1, 2);
    grid->addWidget(new QLabel(Ui("新しい値"), this), 4, 0);
    grid->addWidget(edtNewValue, 5, 0);
    grid->addWidget(btnChange, 5, 1);
    connect(btnEval, &QPushButton::clicked, this, &TfrmEval::btnEvalClick);
    connect(btnChange, &QPushButton::clicked, this, &TfrmEval::btnChangeClick);
    setFixedSize(sizeHint().expandedTo(QSize(360, 220)));
}

void TfrmEval::btnEvalClick()
{
    memValue->setPlainText(Cp932ToQString(debugger_.EvalName(QStringToCp932(edtIdent->text()))));
}

void TfrmEval::btnChangeClick()
{
    const std::string error = debugger_.ChangeValue(QStringToCp932(edtIdent->text()), QStringToCp932(edtNewValue->text()));
    if (error.empty()) btnEvalClick();
    else memValue->setPlainText(Cp932ToQString(error));
}

}  // namespace pek
