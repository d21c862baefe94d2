#pragma once
// A message box with the button sets, icons, default buttons and answers of the Windows call that
// scripts pass their flags to.
#include <QMessageBox>

#include <vector>

namespace pek {

class TScriptMessageBox : public QMessageBox {
    Q_OBJECT
public:
    // Known button sets are 0 to 6; see IsKnownButtonSet.
    TScriptMessageBox(const QString& text, const QString& caption, unsigned flags, QWidget* parent = nullptr);
    static bool IsKnownButtonSet(unsigned flags);

    // The Windows number of the button pressed (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes,
    // 7 No, 10 Try Again, 11 Continue); the escape answer, or 2, when the box was closed otherwise.
    int Answer() const;
    bool Escapable() const { return escapeId_ != 0; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::vector<std::pair<QAbstractButton*, int>> buttons_;
    int escapeId_ = 0;
};

}  // namespace pek
