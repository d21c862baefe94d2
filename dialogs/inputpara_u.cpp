#include "dialogs/inputpara_u.h"

#include "platform/CodePage.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>

namespace pek {

namespace {
constexpr int kChoicesRole = Qt::UserRole + 1;
}

// Value cells: a line edit, or a fixed drop-down list for a row with choices. The dialog watches
// each editor so Enter and Esc end the whole dialog.
class ParaDelegate : public QStyledItemDelegate {
public:
    explicit ParaDelegate(TInputParaForm& form) : QStyledItemDelegate(&form), form_(form) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = nullptr;
        const QStringList choices = index.data(kChoicesRole).toStringList();
        if (index.data(kChoicesRole).isValid()) {
            auto* box = new QComboBox(parent);
            box->addItems(choices);
            editor = box;
        } else {
            editor = QStyledItemDelegate::createEditor(parent, option, index);
        }
        form_.editor_ = editor;
        return editor;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        // Here rather than at creation: the view's own filter is installed in between, and the
        // filter installed last sees the keys first.
        editor->installEventFilter(&form_);
        if (auto* box = qobject_cast<QComboBox*>(editor)) box->setCurrentIndex(box->findText(index.data().toString()));
        else QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor)) model->setData(index, box->currentText());
        else QStyledItemDelegate::setModelData(editor, model, index);
    }
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override
    {
        if (form_.editor_ == editor) form_.editor_ = nullptr;
        QStyledItemDelegate::destroyEditor(editor, index);
    }
    void Commit(QWidget* editor)
    {
        emit commitData(editor);
        emit closeEditor(editor, QAbstractItemDelegate::NoHint);
    }

private:
    TInputParaForm& form_;
};

TInputParaForm::TInputParaForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("InputParaForm");
    setWindowTitle(Ui("パラメータ入力"));
    QFont f(Ui("ＭＳ Ｐゴシック"));
    f.setPixelSize(12);
    setFont(f);
    ParaVListEd = new QTableWidget(0, 2, this);
    ParaVListEd->setObjectName("ParaVListEd");
    ParaVListEd->setHorizontalHeaderLabels({Ui("パラメータ"), Ui("値")});
    ParaVListEd->setColumnWidth(0, 105);
    ParaVListEd->setColumnWidth(1, 74);
    ParaVListEd->horizontalHeader()->setStretchLastSection(true);
    ParaVListEd->verticalHeader()->hide();
    ParaVListEd->setItemDelegateForColumn(1, new ParaDelegate(*this));
    ParaVListEd->setEditTriggers(QAbstractItemView::AllEditTriggers);
    ParaVListEd->installEventFilter(this);
    OkBtn = new QPushButton("OK", this);
    OkBtn->setObjectName("OkBtn");
    OkBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    resize(189, 324);
}

void TInputParaForm::AddRow(const QString& key, const QString& value)
{
    const int row = ParaVListEd->rowCount();
    ParaVListEd->insertRow(row);
    auto* name = new QTableWidgetItem(key);
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    ParaVListEd->setItem(row, 0, name);
    ParaVListEd->setItem(row, 1, new QTableWidgetItem(value));
}

void TInputParaForm::AddChoiceRow(const QString& key, const QStringList& choices)
{
    AddRow(key, choices.isEmpty() ? QString() : choices.front());
    ParaVListEd->item(ParaVListEd->rowCount() - 1, 1)->setData(kChoicesRole, choices);
}

int TInputParaForm::RowCount() const
{
    return ParaVListEd->rowCount();
}

QString TInputParaForm::Value(int row) const
{
    const QTableWidgetItem* item = ParaVListEd->item(row, 1);
    return item ? item->text() : QString();
}

void TInputParaForm::CommitEdit()
{
    if (!editor_) return;
    if (auto* delegate = dynamic_cast<ParaDelegate*>(ParaVListEd->itemDelegateForColumn(1))) delegate->Commit(editor_);
}

bool TInputParaForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == ParaVListEd || watched == editor_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // The value being edited counts: it is taken before the dialog ends.
            CommitEdit();
            OkBtn->click();
            return true;
        }
        if (key == Qt::Key_Escape) {
            CancelBtn->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TInputParaForm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const int w = width();
    const int buttonHeight = 20;
    const int tableHeight = std::max(0, height() - buttonHeight);
    ParaVListEd->setGeometry(0, 0, w, tableHeight);
    OkBtn->setGeometry(0, tableHeight, w / 2, buttonHeight);
    CancelBtn->setGeometry(w / 2, tableHeight, w / 2, buttonHeight);
}

void TInputParaForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ParaVListEd->setFocus();
}

}  // namespace pek
