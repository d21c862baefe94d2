#include "macro/StopMacro_u.h"

#include "macro/MacroCore.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace pek {

TStopMacroForm::TStopMacroForm(Actions actions) : actions_(std::move(actions))
{
    setObjectName("StopMacroForm");
    setWindowTitle(Ui("マクロの停止"));
    QFont font(Ui("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    resize(240, 272);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    MacroLBox = new QListWidget(this);
    MacroLBox->setObjectName("MacroLBox");
    layout->addWidget(MacroLBox);
    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(20);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(Ui(caption), Panel1);
        b->setObjectName(name);
        b->setFixedSize(60, 20);
        b->setAutoDefault(false);
        row->addWidget(b);
        return b;
    };
    StopBtn = button("StopBtn", "停止");
    ForcedStopBtn = button("ForcedStopBtn", "強制停止");
    UpdateBtn = button("UpdateBtn", "更新");
    CloseBtn = button("CloseBtn", "閉じる");
    row->addStretch();
    layout->addWidget(Panel1);

    connect(StopBtn, &QPushButton::clicked, this, [this] { StopBtnClick(); });
    connect(ForcedStopBtn, &QPushButton::clicked, this, [this] { ForcedStopBtnClick(); });
    connect(UpdateBtn, &QPushButton::clicked, this, [this] { UpdateBtnClick(); });
    connect(CloseBtn, &QPushButton::clicked, this, [this] { CloseBtnClick(); });
}

void TStopMacroForm::UpdateBtnClick()
{
    MacroLBox->clear();
    for (const auto& entry : actions_.List()) {
        auto* item = new QListWidgetItem(Cp932ToQString(entry.Text), MacroLBox);
        item->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(entry.Id));
    }
}

std::uint64_t TStopMacroForm::SelectedId() const
{
    const QListWidgetItem* item = MacroLBox->currentItem();
    return item != nullptr && item->isSelected() ? item->data(Qt::UserRole).toULongLong() : 0;
}

void TStopMacroForm::StopBtnClick()
{
    // Sets the request and returns: the run ends at its next script call (a Wait ends at once).
    if (const std::uint64_t id = SelectedId()) actions_.Stop(id);
    UpdateBtnClick();
}

void TStopMacroForm::ForcedStopBtnClick()
{
    if (const std::uint64_t id = SelectedId()) actions_.ForcedStop(id);
    UpdateBtnClick();
}

void TStopMacroForm::CloseBtnClick() { hide(); }

void TStopMacroForm::showEvent(QShowEvent* event)
{
    if (const QWidget* main = actions_.MainWindow ? actions_.MainWindow() : nullptr)
        move(CentredOver(main->frameGeometry(), frameGeometry().size()));
    QDialog::showEvent(event);
}

bool TStopMacroForm::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        UpdateBtnClick();
        MacroLBox->setFocus();
    }
    return QDialog::event(event);
}

}  // namespace pek
