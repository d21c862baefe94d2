#pragma once
// The numeric field of the script GUI's number rows: typed characters filtered by kind, text
// right-aligned, a hexadecimal field kept at its digit count like a counter.
#include "scriptgui/GuiLayout.h"

#include <QLineEdit>

namespace pek {

class TNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TNumEdit(QWidget* parent = nullptr);

    bool IsHex() const { return isHex_; }
    void SetIsHex(bool on);
    bool IsLongWord() const { return isLongWord_; }
    void SetIsLongWord(bool on) { isLongWord_ = on; }
    bool IsFloat() const { return isFloat_; }
    void SetIsFloat(bool on);
    TNumKind Kind() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Normalize();

    bool isHex_ = false;
    bool isLongWord_ = false;
    bool isFloat_ = false;
    bool normalizing_ = false;
};

}  // namespace pek
