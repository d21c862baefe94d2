#include "dialogs/VerForm.h"

#include "dialogs/WindowTools.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "regex/Onig.h"

#include <lua.hpp>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <memory>

namespace pek {

namespace {

struct LuaClose {
    void operator()(lua_State* L) const { lua_close(L); }
};

// One reference on the regular-expression library, taken only when it loads.
class OnigReference {
public:
    explicit OnigReference(const std::vector<std::string>& files)
    {
        if (files.empty()) {
            ok_ = onig::Load();
            return;
        }
        std::vector<const char*> names;
        for (const std::string& file : files) names.push_back(file.c_str());
        ok_ = onig::LoadFrom(names);
    }
    ~OnigReference()
    {
        if (ok_) onig::Unload();
    }
    OnigReference(const OnigReference&) = delete;
    OnigReference& operator=(const OnigReference&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

QLabel* AddLabel(QWidget* parent, const char* name, int left, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->move(left, top);
    return label;
}

void SetLabel(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

}  // namespace

TVersionTexts ReadVersionTexts(const std::vector<std::string>& onigFiles)
{
    TVersionTexts texts;
    {
        // The shared runtime exports no function for these texts; its headers carry them. The
        // state is the runtime's own, opened for the reading and closed again.
        const std::unique_ptr<lua_State, LuaClose> state(luaL_newstate());
        texts.Lua = LUA_COPYRIGHT;
        texts.LuaAddInfo = LUA_AUTHORS;
    }
    const OnigReference library(onigFiles);
    if (library.ok() && onig::api().onig_copyright) texts.Onig = onig::api().onig_copyright();
    return texts;
}

TVerForm::TVerForm(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName("VerForm");
    setWindowTitle(Ui("バージョン情報"));
    setFont(ToolWindowFont());
    setFixedSize(401, 157);

    Image1 = AddLabel(this, "Image1", 24, 16);
    Image1->resize(32, 32);
    Label1 = AddLabel(this, "Label1", 72, 16);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(19);
    Label1->setFont(bold);
    SetLabel(Label1, "Pek");
    VerLb = AddLabel(this, "VerLb", 120, 24);
    LuaLb = AddLabel(this, "LuaLb", 24, 72);
    LuaAddInfoLb = AddLabel(this, "LuaAddInfoLb", 120, 88);
    OnigLb = AddLabel(this, "OnigLb", 24, 104);

    OkBtn = new QPushButton("OK", this);
    OkBtn->setObjectName("OkBtn");
    OkBtn->setDefault(true);
    OkBtn->setGeometry(176, 128, 75, 25);
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(1); });
}

int TVerForm::ShowModal()
{
    FormShow();
    return Dialogs().Exec(*this);
}

void TVerForm::FormShow()
{
    if (QWidget* main = parentWidget()) move(CentredOver(main->frameGeometry(), size()));
    Image1->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    SetLabel(VerLb, "Ver0.22");
    const TVersionTexts texts = ReadVersionTexts(onigFiles_);
    SetLabel(LuaLb, Cp932ToQString(texts.Lua));
    SetLabel(LuaAddInfoLb, Cp932ToQString(texts.LuaAddInfo));
    SetLabel(OnigLb, Cp932ToQString(texts.Onig));
}

}  // namespace pek
