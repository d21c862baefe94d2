#pragma once
// The menu selection dialog: one push button per choice, laid out in a grid of the given column
// count; clicking one ends the dialog with it.
#include <QDialog>

#include <cstdint>
#include <vector>

class QPushButton;

namespace pek {

class TSelMenuForm : public QDialog {
    Q_OBJECT
public:
    explicit TSelMenuForm(QWidget* parent = nullptr);

    // The first choice takes the design button Btn; each further one gets a new button.
    void SetChoices(const std::vector<QString>& choices);
    // Sizes and places the buttons by the column count and fits the dialog to them.
    void LayoutButtons();

    std::int32_t SelectedIndex() const { return selected_; }
    std::int32_t Columns() const { return columns_; }
    void SetColumns(std::int32_t columns) { columns_ = columns; }
    const std::vector<QPushButton*>& Buttons() const { return buttons_; }
    void BtnClick(QPushButton* button);

    QPushButton* Btn = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The close box: Cancel, the selection stays -1.
    void reject() override { done(2); }

private:
    std::vector<QPushButton*> buttons_;  // in child order; the index is the tag
    std::int32_t selected_ = -1;
    std::int32_t columns_ = 0;
};

}  // namespace pek
