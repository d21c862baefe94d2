#include "dialogs/ScriptDialogs.h"

#include "dialogs/ParaValue.h"
#include "dialogs/ScriptDialogHost.h"
#include "dialogs/ScriptMessageBox.h"
#include "dialogs/SelMenu_u.h"
#include "dialogs/ShellOpen.h"
#include "dialogs/inputpara_u.h"
#include "lua/LuaKeyTable.h"
#include "lua/LuaUtils.h"
#include "macro/ScriptKit.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "terminal/TerminalHost.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>

#include <lua.hpp>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pek {

namespace {

TLuaKeyTable<TScriptDialogs>& Table()
{
    static TLuaKeyTable<TScriptDialogs> table;
    return table;
}

// Holds a number's entry for as long as the library that registers it exists.
struct TDialogsLink {
    lua_Integer key = 0;
    explicit TDialogsLink(std::shared_ptr<TScriptDialogs> dialogs) : key(Table().Add(std::move(dialogs))) {}
    ~TDialogsLink() { Table().Remove(key); }
    TDialogsLink(const TDialogsLink&) = delete;
    TDialogsLink& operator=(const TDialogsLink&) = delete;
};

// The dialogs of the calling function, held for the call.
std::shared_ptr<TScriptDialogs> DialogsOf(lua_State* L)
{
    return Table().FromUpvalue(L, Sjis("ダイアログ関数の内部データが壊れています").c_str());
}

// A text argument: a string or a number; anything else is the function's argument error.
std::string Text(lua_State* L, int index, const char* name)
{
    const int type = lua_type(L, index);
    if (type != LUA_TSTRING && type != LUA_TNUMBER) ArgError(L, name);
    std::size_t size = 0;
    const char* text = lua_tolstring(L, index, &size);
    return std::string(text, size);
}

QString Q(const std::string& cp932)
{
    return Cp932ToQString(cp932);
}

// ---- FileDialog -----------------------------------------------------------------------------

int FileDialog(lua_State* L)
{
    CheckStop(L);
    const char* name = "FileDialog";
    const int n = lua_gettop(L);
    if (n > 3 || (n >= 1 && lua_type(L, 1) != LUA_TNUMBER)) ArgError(L, name);
    const bool save = n >= 1 && lua_tonumber(L, 1) != 0;
    const std::string title = n >= 2 ? Text(L, 2, name) : std::string();
    const std::string folder = n >= 3 ? Text(L, 3, name) : std::string();
    const std::shared_ptr<TScriptDialogs> held = DialogsOf(L);
    TScriptDialogs& dialogs = *held;
    using Files = std::optional<std::vector<std::string>>;
    Files files;
    LuaGuard(L, [&] {
        files = dialogs.Show<Files>(
            L,
            [&dialogs, save, title, folder]() -> Files {
                QFileDialog dialog(dialogs.Parent(), Q(title), QString::fromStdString(FileNameToSystem(folder)),
                                   Ui("すべてのファイル (*)"));
                dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
                dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFiles);
                if (dialogs.Exec(dialog) != QDialog::Accepted) return std::nullopt;
                std::vector<std::string> names;
                for (const QString& chosen : dialog.selectedFiles()) {
                    std::string cp932;
                    if (!Utf8ToCp932Checked(chosen.toStdString(), cp932)) {
                        Dialogs().MessageBox(dialogs.Parent(), Ui("このファイル名はコード932で表せません: ") + chosen,
                                             "Pek", MB_OK | MB_ICONERROR);
                        return std::nullopt;
                    }
                    names.push_back(std::move(cp932));
                }
                return names;
            },
            std::nullopt);
        return 0;
    });
    if (!files) return 0;
    lua_createtable(L, int(files->size()), 0);
    for (std::size_t i = 0; i < files->size(); ++i) {
        lua_pushlstring(L, (*files)[i].data(), (*files)[i].size());
        lua_rawseti(L, -2, int(i + 1));
    }
    return 1;
}

// ---- InpPara --------------------------------------------------------------------------------

struct ParaRow {
    std::string key;
    std::string value;
    std::optional<std::vector<std::string>> choices;
};

struct ParaAnswer {
    bool ok = false;
    std::vector<std::string> values;
};

int InpPara(lua_State* L)
{
    CheckStop(L);
    const char* name = "InpPara";
    const int n = lua_gettop(L);
    if (n < 1) ArgError(L, name);
    const std::string title = Text(L, 1, name);
    std::vector<ParaRow> rows;
    for (int i = 2; i <= n; i += 2) {
        ParaRow row;
        row.key = Text(L, i, name);
        if (i + 1 <= n) {
            if (lua_type(L, i + 1) == LUA_TTABLE) {
                row.choices.emplace();
                lua_pushnil(L);
                while (lua_next(L, i + 1) != 0) {
                    // A copy is converted, so the key traversal is not disturbed.
                    lua_pushvalue(L, -1);
                    row.choices->push_back(Text(L, lua_gettop(L), name));
                    lua_pop(L, 2);
                }
                if (!row.choices->empty()) row.value = row.choices->front();
            } else {
                row.value = Text(L, i + 1, name);
            }
        }
        rows.push_back(std::move(row));
    }
    ParaAnswer cancelled;
    for (const ParaRow& row : rows) cancelled.values.push_back(row.value);
    const std::shared_ptr<TScriptDialogs> held = DialogsOf(L);
    TScriptDialogs& dialogs = *held;
    ParaAnswer answer;
    LuaGuard(L, [&] {
        answer = dialogs.Show<ParaAnswer>(
            L,
            [&dialogs, title, rows]() -> ParaAnswer {
                TInputParaForm form(dialogs.Parent());
                form.setWindowTitle(Q(title));
                for (const ParaRow& row : rows) {
                    if (row.choices) {
                        QStringList choices;
                        for (const std::string& c : *row.choices) choices << Q(c);
                        form.AddChoiceRow(Q(row.key), choices);
                    } else {
                        form.AddRow(Q(row.key), Q(row.value));
                    }
                }
                ParaAnswer a;
                a.ok = dialogs.Exec(form) == 1;
                // The values as the user left them, also after Cancel.
                for (int r = 0; r < form.RowCount(); ++r) a.values.push_back(QStringToCp932(form.Value(r)));
                return a;
            },
            cancelled);
        return 0;
    });
    lua_settop(L, 0);
    luaL_checkstack(L, int(answer.values.size()) + 1, name);
    lua_pushboolean(L, answer.ok);
    for (const std::string& value : answer.values) {
        if (const auto number = ParaNumber(value)) lua_pushnumber(L, *number);
        else lua_pushlstring(L, value.data(), value.size());
    }
    return int(answer.values.size()) + 1;
}

// ---- SelMenu --------------------------------------------------------------------------------

int SelMenu(lua_State* L)
{
    CheckStop(L);
    const char* name = "SelMenu";
    if (lua_gettop(L) != 3 || lua_type(L, 2) != LUA_TNUMBER || lua_type(L, 3) != LUA_TTABLE) ArgError(L, name);
    const std::string title = Text(L, 1, name);
    const auto columns = std::int32_t(LuaToInteger(L, 2));
    std::vector<std::string> items;
    lua_pushnil(L);
    while (lua_next(L, 3) != 0) {
        lua_pushvalue(L, -1);
        items.push_back(Text(L, lua_gettop(L), name));
        lua_pop(L, 2);
    }
    // No items, nothing to choose: 0, as for a closed menu.
    if (items.empty()) {
        lua_pushinteger(L, 0);
        return 1;
    }
    const std::shared_ptr<TScriptDialogs> held = DialogsOf(L);
    TScriptDialogs& dialogs = *held;
    const int chosen = LuaGuard(L, [&]() -> int {
        return dialogs.Show<int>(
            L,
            [&dialogs, title, columns, items]() -> int {
                TSelMenuForm form(dialogs.Parent());
                form.setWindowTitle(Q(title));
                form.SetColumns(columns);
                std::vector<QString> captions;
                for (const std::string& item : items) captions.push_back(Q(item));
                form.SetChoices(captions);
                const int result = dialogs.Exec(form);
                return result == 1 && form.SelectedIndex() >= 0 ? form.SelectedIndex() + 1 : 0;
            },
            0);
    });
    lua_pushinteger(L, chosen);
    return 1;
}

// ---- MessageBox -----------------------------------------------------------------------------

int MessageBoxFn(lua_State* L)
{
    CheckStop(L);
    const char* name = "MessageBox";
    const int n = lua_gettop(L);
    if (n < 2 || n > 3 || (n == 3 && lua_type(L, 3) != LUA_TNUMBER)) ArgError(L, name);
    const std::string text = Text(L, 1, name);
    const std::string caption = Text(L, 2, name);
    const auto flags = n == 3 ? static_cast<unsigned>(LuaToInteger(L, 3)) : 0u;
    // A button set Windows does not know shows nothing.
    if (!TScriptMessageBox::IsKnownButtonSet(flags)) {
        lua_pushinteger(L, 0);
        return 1;
    }
    const std::shared_ptr<TScriptDialogs> held = DialogsOf(L);
    TScriptDialogs& dialogs = *held;
    const int answer = LuaGuard(L, [&]() -> int {
        return dialogs.Show<int>(
            L,
            [&dialogs, text, caption, flags]() -> int {
                TScriptMessageBox box(Q(text), Q(caption), flags, dialogs.Parent());
                dialogs.Exec(box);
                return box.Answer();
            },
            2);
    });
    lua_pushinteger(L, answer);
    return 1;
}

// ---- ClipBoard and ShellExecute ---------------------------------------------------------------

int ClipBoard(lua_State* L)
{
    CheckStop(L);
    const char* name = "ClipBoard";
    const int n = lua_gettop(L);
    if (n > 1) ArgError(L, name);
    const std::optional<std::string> text = n == 1 ? std::optional(Text(L, 1, name)) : std::nullopt;
    std::string previous;
    OnMain(L, [&](TerminalHost&) {
        QClipboard* clipboard = QApplication::clipboard();
        previous = QStringToCp932(clipboard->text());
        if (text) clipboard->setText(Q(*text));
    });
    lua_pushlstring(L, previous.data(), previous.size());
    return 1;
}

int ShellExecute(lua_State* L)
{
    CheckStop(L);
    const char* name = "ShellExecute";
    const int n = lua_gettop(L);
    if (n < 1 || n > 3) ArgError(L, name);
    ShellRequest request;
    request.file = Text(L, 1, name);
    if (n >= 2) request.parameters = Text(L, 2, name);
    if (n >= 3) request.folder = Text(L, 3, name);
    const std::shared_ptr<TScriptDialogs> held = DialogsOf(L);
    TScriptDialogs& dialogs = *held;
    LuaGuard(L, [&] {
        return dialogs.Show<int>(
            L,
            [&dialogs, request]() -> int {
                if (!ShellOpen(request))
                    Dialogs().MessageBox(dialogs.Parent(), Q(request.file) + Ui(" を開けませんでした。"), "Pek",
                                         MB_OK | MB_ICONERROR);
                return 0;
            },
            0);
    });
    return 0;
}

}  // namespace

std::shared_ptr<TScriptDialogs> AttachScriptDialogs(TerminalHost& window)
{
    return std::make_shared<TScriptDialogs>(window);
}

std::function<void(lua_State*)> ScriptDialogLibrary(std::shared_ptr<TScriptDialogs> dialogs)
{
    return [link = std::make_shared<TDialogsLink>(std::move(dialogs))](lua_State* L) {
        static constexpr TScriptFunction functions[] = {
            {"FileDialog", FileDialog}, {"InpPara", InpPara},     {"SelMenu", SelMenu},
            {"MessageBox", MessageBoxFn}, {"ClipBoard", ClipBoard}, {"ShellExecute", ShellExecute}};
        RegisterScriptFunctions(L, functions, link->key);
    };
}

}  // namespace pek
