#include "settings/callfnc_u.h"

#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "settings/fnc_setting_u.h"
#include "terminal/TerminalHost.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace pek {

TCallForm::TCallForm(TerminalHost& window, const TFncSettingForm& list, QWidget* parent)
    : QDialog(parent), window_(window), list_(list)
{
    setObjectName("CallForm");
    setWindowTitle(Ui("呼び出し関数実行"));
    auto* layout = new QVBoxLayout(this);
    FncLB = new QListWidget(this);
    FncLB->setObjectName("FncLB");
    FncLB->installEventFilter(this);
    layout->addWidget(FncLB);
    auto* buttons = new QHBoxLayout;
    OkBtn = new QPushButton("OK", this);
    CancelBtn = new QPushButton(Ui("キャンセル"), this);
    OkBtn->setAutoDefault(false);
    CancelBtn->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    resize(260, 300);
    connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(FncLB, &QListWidget::itemDoubleClicked, this, [this] { OkBtnClick(); });
}

void TCallForm::FormShow()
{
    chosen_.reset();
    FncLB->clear();
    for (const CallEntry& e : list_.Entries()) FncLB->addItem(Cp932ToQString(e.title));
    if (FncLB->count() > 0 && FncLB->currentRow() < 0) FncLB->setCurrentRow(0);
    if (QWidget* main = window_.DialogParent()) move(CentredOver(main->frameGeometry(), size()));
    FncLB->setFocus();
}

int TCallForm::ShowModal()
{
    FormShow();
    const int result = Dialogs().Exec(*this);
    if (result != QDialog::Accepted) return 2;
    // The picker is closed before the command runs: a long run (a script) leaves it out of sight.
    if (chosen_) {
        const std::string command = std::move(*chosen_);
        chosen_.reset();
        window_.RunCommandLine(command);
    }
    return 1;
}

void TCallForm::OkBtnClick()
{
    const int row = FncLB->currentRow();
    const auto& entries = list_.Entries();
    if (row < 0 || row >= int(entries.size())) {
        reject();
        return;
    }
    chosen_ = entries[size_t(row)].command;
    accept();
}

bool TCallForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FncLB && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OkBtnClick();
            return true;
        }
        if (key == Qt::Key_Escape) {
            CancelBtn->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace pek
