#pragma once
// The version dialog: the program's name and version and the identification texts of the Lua
// runtime and the regular-expression library.
#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace pek {

struct TVersionTexts {
    std::string Lua;         // the runtime's copyright line
    std::string LuaAddInfo;  // its authors
    std::string Onig;        // the regular-expression library's copyright; empty without the library
};

// Opens and closes a Lua state of the runtime and takes a reference on the regular-expression
// library for the time of the call. onigFiles replaces the library's usual file names (tests of a
// machine without it); when the library is already loaded it is used as it is.
TVersionTexts ReadVersionTexts(const std::vector<std::string>& onigFiles = {});

class TVerForm : public QDialog {
public:
    explicit TVerForm(QWidget* mainWindow);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* VerLb = nullptr;
    QLabel* LuaLb = nullptr;
    QLabel* LuaAddInfoLb = nullptr;
    QLabel* OnigLb = nullptr;
    QPushButton* OkBtn = nullptr;

    // Fills the labels and shows the dialog modally through the dialog service; its result.
    int ShowModal();
    void SetOnigFiles(std::vector<std::string> files) { onigFiles_ = std::move(files); }

private:
    void FormShow();

    std::vector<std::string> onigFiles_;
};

}  // namespace pek
