#include "settings/fnc_setting_u.h"

#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "terminal/TerminalHost.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace pek {

namespace {

constexpr int kMinRows = 9;  // below the header, as the grid starts

QString CellText(const QTableWidget& grid, int row, int column)
{
    const QTableWidgetItem* item = grid.item(row, column);
    return item ? item->text() : QString();
}

}  // namespace

TFncSettingForm::TFncSettingForm(TerminalHost& window, QWidget* parent) : QDialog(parent), window_(window)
{
    setObjectName("FncSettingForm");
    setWindowTitle(Ui("呼び出し関数一覧"));
    auto* layout = new QVBoxLayout(this);
    FncStringGrid = new QTableWidget(kMinRows, 2, this);
    FncStringGrid->setObjectName("FncStringGrid");
    FncStringGrid->setHorizontalHeaderLabels({Ui("タイトル"), Ui("実行関数")});
    FncStringGrid->setColumnWidth(0, 200);
    FncStringGrid->setColumnWidth(1, 200);
    FncStringGrid->verticalHeader()->setSectionsMovable(true);
    FncStringGrid->horizontalHeader()->setSectionsMovable(true);
    FncStringGrid->setTabKeyNavigation(true);
    layout->addWidget(FncStringGrid);
    auto* buttons = new QHBoxLayout;
    OkBtn = new QPushButton("OK", this);
    CancelBtn = new QPushButton(Ui("キャンセル"), this);
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    resize(460, 300);
    connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(FncStringGrid, &QTableWidget::itemChanged, this, [this] { EnsureSpareRow(); });
    if (QWidget* main = window_.DialogParent()) move(CentredOver(main->frameGeometry(), size()));
    LoadList();
}

void TFncSettingForm::LoadList()
{
    FEntries = LoadCallFunctions(window_.Ini());
    const QSignalBlocker quiet(FncStringGrid);
    // Cancelled edits in rows below the entries would otherwise be stored by the next OK.
    FncStringGrid->clearContents();
    FncStringGrid->setRowCount(std::max(kMinRows, int(FEntries.size()) + 1));
    for (int i = 0; i < int(FEntries.size()); ++i) {
        FncStringGrid->setItem(i, 0, new QTableWidgetItem(Cp932ToQString(FEntries[size_t(i)].title)));
        FncStringGrid->setItem(i, 1, new QTableWidgetItem(Cp932ToQString(FEntries[size_t(i)].command)));
    }
}

void TFncSettingForm::EnsureSpareRow()
{
    const int last = FncStringGrid->rowCount() - 1;
    if (last < 0 || !CellText(*FncStringGrid, FncStringGrid->verticalHeader()->logicalIndex(last), 0).isEmpty())
        FncStringGrid->setRowCount(last + 2);
}

int TFncSettingForm::ShowModal()
{
    LoadList();
    EnsureSpareRow();
    return Dialogs().Exec(*this) == QDialog::Accepted ? 1 : 2;
}

std::vector<CallEntry> TFncSettingForm::RowsShown() const
{
    std::vector<CallEntry> rows;
    const QHeaderView& header = *FncStringGrid->verticalHeader();
    for (int visual = 0; visual < FncStringGrid->rowCount(); ++visual) {
        const int row = header.logicalIndex(visual);
        const QString title = CellText(*FncStringGrid, row, 0);
        // Every row with a title, the last one too: a title typed there is not lost.
        if (!title.isEmpty()) rows.push_back({QStringToCp932(title), QStringToCp932(CellText(*FncStringGrid, row, 1))});
    }
    return rows;
}

bool TFncSettingForm::OkBtnClick()
{
    std::vector<CallEntry> rows = RowsShown();
    try {
        StoreCallFunctions(window_.Ini(), rows);
    } catch (const std::exception& error) {
        Dialogs().MessageBox(this, Cp932ToQString(error.what()), windowTitle(), MB_OK | MB_ICONERROR);
        return false;
    }
    FEntries = std::move(rows);
    accept();
    return true;
}

}  // namespace pek
