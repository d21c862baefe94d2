#pragma once
// The parameter input dialog: a table of named values the user edits, some with a pick list.
#include <QDialog>
#include <QStringList>

class QPushButton;
class QTableWidget;

namespace pek {

class TInputParaForm : public QDialog {
    Q_OBJECT
public:
    explicit TInputParaForm(QWidget* parent = nullptr);

    // A row with a free value, or with a pick list whose first choice is the value.
    void AddRow(const QString& key, const QString& value);
    void AddChoiceRow(const QString& key, const QStringList& choices);
    int RowCount() const;
    QString Value(int row) const;

    void OkBtnClick() { done(1); }
    void CancelBtnClick() { done(2); }

    QTableWidget* ParaVListEd = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void reject() override { CancelBtnClick(); }

private:
    friend class ParaDelegate;
    // Ends the edit of a cell, keeping what was typed.
    void CommitEdit();
    QWidget* editor_ = nullptr;
};

}  // namespace pek
