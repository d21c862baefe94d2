// The Editor object: methods as raw fields, one small function each in a table, properties routed
// through one dispatcher that is both __index and __newindex. Every pane access runs on the main
// thread; Lua stays on the run's.
#include "macro/ScriptEditor.h"

#include "editor/EditorEx.h"
#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "macro/ScriptKit.h"
#include "terminal/ActionTarget.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QVariant>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace pek {

namespace {

constexpr char PaneIdProperty[] = "pekPaneId";
constexpr int ScriptMark = 10;
// SetLineString adds missing lines; this many past the end at most, so a typo cannot fill memory.
constexpr long long MaxLinesAdded = 1000000;

void PushToken(lua_State* L, std::uint64_t token)
{
    if (token == 0) lua_pushnil(L);
    else lua_pushlightuserdata(L, reinterpret_cast<void*>(static_cast<std::uintptr_t>(token)));
}

// The token in the object's raw `Handle` field; 0 when it holds none.
std::uint64_t TokenOf(lua_State* L, int object)
{
    if (lua_type(L, object) != LUA_TTABLE) return 0;
    lua_pushliteral(L, "Handle");
    lua_rawget(L, object);
    const std::uint64_t token = lua_type(L, -1) == LUA_TLIGHTUSERDATA ? reinterpret_cast<std::uintptr_t>(lua_touserdata(L, -1)) : 0;
    lua_pop(L, 1);
    return token;
}

void SetHandle(lua_State* L, int object, std::uint64_t token)
{
    lua_pushliteral(L, "Handle");
    PushToken(L, token);
    lua_rawset(L, object);
}

int SheetOfToken(const TerminalHost& window, std::uint64_t token)
{
    if (token == 0) return -1;
    for (int sheet = 0; sheet < window.SheetCount(); ++sheet)
        if (TEditorEx* pane = window.SheetPane(sheet); pane != nullptr && pane->property(PaneIdProperty).toULongLong() == token) return sheet;
    return -1;
}

int ClampInt(lua_Integer v) { return int(std::clamp<lua_Integer>(v, INT_MIN, INT_MAX)); }
// Columns a script sets: far beyond any row, yet small enough that the pane's pixel arithmetic
// (column times character width) cannot overflow.
constexpr lua_Integer MaxScriptCol = 1 << 20;
int ClampCol(lua_Integer v) { return int(std::clamp<lua_Integer>(v, 0, MaxScriptCol)); }

std::string TextArg(lua_State* L, int index)
{
    std::size_t len = 0;
    const char* s = lua_tolstring(L, index, &len);
    return s == nullptr ? std::string() : std::string(s, len);
}

// Runs fn with the pane that token names, on the main thread. False when it names none.
bool OnPane(lua_State* L, std::uint64_t token, const std::function<void(TerminalHost&, TEditorEx&)>& fn)
{
    bool found = false;
    LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
            TEditorEx* pane = PaneByToken(window, token);
            if (pane == nullptr) return;
            found = true;
            fn(window, *pane);
        });
        return 0;
    });
    return found;
}

// ---- results ---------------------------------------------------------------------------------

struct Result {
    enum { None, Integer, Boolean, String, Refused } kind = None;
    long long i = 0;
    bool b = false;
    std::string s;
};

Result Int(long long v) { return {Result::Integer, v, false, {}}; }
Result Bool(bool v) { return {Result::Boolean, 0, v, {}}; }
Result Str(std::string v) { return {Result::String, 0, false, std::move(v)}; }
Result Refused() { return {Result::Refused, 0, false, {}}; }

void PushResult(lua_State* L, const Result& r)
{
    switch (r.kind) {
    case Result::None:
    case Result::Refused: lua_pushnil(L); break;
    case Result::Integer: lua_pushinteger(L, lua_Integer(r.i)); break;
    case Result::Boolean: lua_pushboolean(L, r.b); break;
    case Result::String: lua_pushlstring(L, r.s.data(), r.s.size()); break;
    }
}

// ---- methods ---------------------------------------------------------------------------------

// A method's arguments after the object, read on the run's thread.
struct MethodArgs {
    long long n1 = 0;  // the first and second, when numbers
    long long n2 = 0;
    bool flag = false;  // the last, as a boolean
    std::string text;   // the one taken as text
};

// Runs on the main thread with the pane; a Refused result is the method's argument error.
using MethodFn = Result (*)(TerminalHost&, TEditorEx&, const MethodArgs&);

void TriggerSearch(TerminalHost& window, TEditorEx& pane, const char* actionName)
{
    pane.setFocus();
    QAction* action = window.Action(actionName);
    if (action == nullptr || !action->isEnabled()) return;
    TriggerForPane(*action, pane);
}

long long RowLength(const TEditorModel& model, long long row)
{
    const TRowInfo info = model.Lines().RowInfo(row);
    return info.end - info.start;
}

Result SetLineString(TerminalHost&, TEditorEx& ed, const MethodArgs& a)
{
    const long long count = ed.LineCount();
    if (a.n1 - count >= MaxLinesAdded) return Refused();
    if (a.n1 >= count) {
        // One edit adds every missing line at once.
        std::string breaks;
        breaks.reserve(std::size_t(a.n1 - count + 1) * 2);
        for (long long k = count; k <= a.n1; ++k) breaks += "\r\n";
        TEditorLines& lines = ed.Model().Lines();
        const TTextPos end = lines.EndPos();
        lines.Replace(end, end, breaks);
    }
    ed.SetLineString(a.n1, a.text);
    return {};
}

// A file that cannot be written or read answers false.
Result Save(TerminalHost&, TEditorEx& ed, const MethodArgs& a)
{
    try {
        ed.SaveToFile(a.text);
        return Bool(true);
    } catch (const std::exception&) {
        return Bool(false);
    }
}

Result Load(TerminalHost&, TEditorEx& ed, const MethodArgs& a)
{
    try {
        ed.LoadFromFile(a.text);
        return Bool(true);
    } catch (const std::exception&) {
        return Bool(false);
    }
}

Result IsMarked(TerminalHost&, TEditorEx& ed, const MethodArgs& a)
{
    if (a.n1 < 0 || a.n1 >= ed.LineCount()) return Bool(false);
    return Bool((ed.RowMarks(ed.Model().Lines().FirstRowOfLine(a.n1)) >> ScriptMark) & 1);
}

Result SetMarked(TerminalHost&, TEditorEx& ed, const MethodArgs& a)
{
    if (a.n1 < 0 || a.n1 >= ed.LineCount()) return {};
    const long long row = ed.Model().Lines().FirstRowOfLine(a.n1);
    if (a.flag) ed.AddRowMark(row, ScriptMark);
    else ed.RemoveRowMark(row, ScriptMark);
    return {};
}

Result InsertFileName(TerminalHost& window, TEditorEx& ed, const MethodArgs&)
{
    ed.SetSelLength(0);
    ed.Model().InsertText(window.SheetFile(window.ActiveSheet()));
    return {};
}

// From column 0: the caret row's text, with its line break when the flag is set. The selection is
// kept: moving the caret afterwards would drop it again.
Result SelectLineFromCaret(TerminalHost&, TEditorEx& ed, const MethodArgs& a)
{
    const TEditorModel& model = ed.Model();
    ed.SetCol(0);
    ed.SetSelLength(RowLength(model, ed.Row()) + (a.flag && model.RowEndsLine(ed.Row()) ? 2 : 0));
    return {};
}

struct MethodEntry {
    const char* name;
    // After the object: n number, l line number (not negative), t string or number, b boolean.
    const char* arguments;
    MethodFn run;  // null: the method does nothing
};

constexpr MethodEntry Methods[] = {
    {"RowToLines", "n", [](TerminalHost&, TEditorEx& e, const MethodArgs& a) { return Int(e.Model().RowToLines(a.n1)); }},
    {"LinesToRow", "n", [](TerminalHost&, TEditorEx& e, const MethodArgs& a) { return Int(e.Model().LinesToRow(a.n1)); }},
    {"ColToChar", "nn", [](TerminalHost&, TEditorEx& e, const MethodArgs& a) { return Int(e.Model().ColToChar(a.n1, a.n2)); }},
    {"GetLineString", "n", [](TerminalHost&, TEditorEx& e, const MethodArgs& a) { return Str(e.GetLineString(a.n1)); }},
    {"SetLineString", "lt", SetLineString},
    {"BeginUpdate", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.BeginUpdate(); return Result{}; }},
    {"EndUpdate", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.EndUpdate(); return Result{}; }},
    {"Save", "t", Save},
    {"Load", "t", Load},
    {"IsMarked", "n", IsMarked},
    {"SetMarked", "nb", SetMarked},
    {"Find", "", [](TerminalHost& w, TEditorEx& e, const MethodArgs&) { TriggerSearch(w, e, "SrchSearchAct"); return Result{}; }},
    {"FindNext", "", [](TerminalHost& w, TEditorEx& e, const MethodArgs&) { TriggerSearch(w, e, "SrchForwardAct"); return Result{}; }},
    {"FindPrev", "", [](TerminalHost& w, TEditorEx& e, const MethodArgs&) { TriggerSearch(w, e, "SrchBackwardAct"); return Result{}; }},
    {"HitToSelected", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.HitToSelected(); return Result{}; }},
    {"ClearUndo", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.ClearUndo(); return Result{}; }},
    {"Undo", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.Undo(); return Result{}; }},
    {"Redo", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.Redo(); return Result{}; }},
    {"Cut", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.CutToClipboard(); return Result{}; }},
    {"Copy", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.CopyToClipboard(); return Result{}; }},
    {"Paste", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.PasteFromClipboard(); return Result{}; }},
    {"Delete", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.Model().DeleteSelection(); return Result{}; }},
    {"SelectAll", "", [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.SelectAll(); return Result{}; }},
    {"InsertFileName", "", InsertFileName},
    {"SelectWordFromCaret", "",
     [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.setFocus(); e.Model().SelectWordFromCaret(); return Result{}; }},
    {"SelectTokenFromCaret", "",
     [](TerminalHost&, TEditorEx& e, const MethodArgs&) { e.setFocus(); e.Model().SelectTokenFromCaret(); return Result{}; }},
    {"SelectLineFromCaret", "b", SelectLineFromCaret},
    {"Free", "", nullptr},
};

bool ArgumentsFit(lua_State* L, std::string_view types)
{
    if (lua_gettop(L) != int(types.size()) + 1 || lua_type(L, 1) != LUA_TTABLE) return false;
    for (std::size_t i = 0; i < types.size(); ++i) {
        const int index = int(i) + 2;
        const int type = lua_type(L, index);
        const bool number = type == LUA_TNUMBER;
        if ((types[i] == 'n' && !number) || (types[i] == 'l' && !(number && LuaToInteger(L, index) >= 0)) ||
            (types[i] == 't' && !IsScriptText(L, index)) || (types[i] == 'b' && type != LUA_TBOOLEAN))
            return false;
    }
    return true;
}

MethodArgs ReadArguments(lua_State* L, std::string_view types)
{
    MethodArgs a;
    a.n1 = lua_gettop(L) >= 2 && lua_type(L, 2) == LUA_TNUMBER ? LuaToInteger(L, 2) : 0;
    a.n2 = lua_gettop(L) >= 3 && lua_type(L, 3) == LUA_TNUMBER ? LuaToInteger(L, 3) : 0;
    a.flag = lua_toboolean(L, lua_gettop(L)) != 0;
    if (const std::size_t text = types.find('t'); text != std::string_view::npos) a.text = TextArg(L, int(text) + 2);
    return a;
}

int CallMethod(lua_State* L, const MethodEntry& entry)
{
    CheckStop(L);
    if (!ArgumentsFit(L, entry.arguments)) ArgError(L, entry.name);
    const std::uint64_t token = TokenOf(L, 1);
    if (token == 0) ArgError(L, entry.name);
    const MethodArgs args = ReadArguments(L, entry.arguments);
    Result r;
    const bool found = OnPane(L, token, [&](TerminalHost& window, TEditorEx& ed) { r = entry.run(window, ed, args); });
    if (!found || r.kind == Result::Refused) ArgError(L, entry.name);
    if (r.kind == Result::None) return 0;
    PushResult(L, r);
    return 1;
}

int EditorFree(lua_State*) { return 0; }

// One C function per method, so that nothing a script can reach (an upvalue, say) picks the entry.
template <std::size_t I>
int EditorMethod(lua_State* L)
{
    return CallMethod(L, Methods[I]);
}

template <std::size_t... I>
constexpr std::array<lua_CFunction, sizeof...(I)> MethodFunctions(std::index_sequence<I...>)
{
    return {(Methods[I].run != nullptr ? EditorMethod<I> : EditorFree)...};
}

constexpr auto MethodFunctionTable = MethodFunctions(std::make_index_sequence<std::size(Methods)>());

// ---- properties ------------------------------------------------------------------------------

struct Assigned {
    lua_Integer i = 0;
    bool b = false;
    std::string s;
};

struct PropertyEntry {
    const char* name;
    const char* errorName;
    Result (*get)(TEditorEx&);
    void (*set)(TEditorEx&, const Assigned&);  // null: read-only
};


// No and Handle are served before the table; their entries only keep the names in order.
const PropertyEntry Properties[] = {
    {"No", nullptr, nullptr, nullptr},
    {"Text", "Text", [](TEditorEx& e) { return Str(e.Text()); }, [](TEditorEx& e, const Assigned& a) { e.SetText(a.s); }},
    {"SelText", "SelText", [](TEditorEx& e) { return Str(e.SelText()); }, [](TEditorEx& e, const Assigned& a) { e.SetSelText(a.s); }},
    {"SelStart", "SelStart", [](TEditorEx& e) { return Int(e.SelStart()); }, [](TEditorEx& e, const Assigned& a) { e.SetSelStart(a.i); }},
    {"SelLength", "SelLengthText", [](TEditorEx& e) { return Int(e.SelLength()); },
     [](TEditorEx& e, const Assigned& a) { e.SetSelLength(a.i); }},
    {"Selected", "Selected", [](TEditorEx& e) { return Bool(e.Selected()); }, nullptr},
    {"SelMode", "SelMode", [](TEditorEx& e) { return Bool(e.SelectionMode() == TSelectionMode::smBox); },
     [](TEditorEx& e, const Assigned& a) { e.SetSelectionMode(a.b ? TSelectionMode::smBox : TSelectionMode::smNormal); }},
    {"SelSr", "SelSr", [](TEditorEx& e) { return Int(e.Model().SelStartRow()); }, nullptr},
    {"SelEr", "SelEr", [](TEditorEx& e) { return Int(e.Model().SelEndRow()); }, nullptr},
    {"SelSc", "SelSc", [](TEditorEx& e) { return Int(e.Model().SelStartCol()); }, nullptr},
    {"SelEc", "SelEc", [](TEditorEx& e) { return Int(e.Model().SelEndCol()); }, nullptr},
    {"LineCount", "LineCount", [](TEditorEx& e) { return Int(e.LineCount()); }, nullptr},
    {"RowCount", "RowCount", [](TEditorEx& e) { return Int(std::max(1LL, e.RowCount())); }, nullptr},
    {"ColCount", "ColCount", [](TEditorEx& e) { return Int(e.ColCount()); }, nullptr},
    {"Row", "Row", [](TEditorEx& e) { return Int(e.Row()); }, [](TEditorEx& e, const Assigned& a) { e.SetRow(a.i); }},
    {"Col", "Col", [](TEditorEx& e) { return Int(e.Col()); }, [](TEditorEx& e, const Assigned& a) { e.SetCol(ClampCol(a.i)); }},
    {"TopRow", "TopRow", [](TEditorEx& e) { return Int(e.TopRow()); }, [](TEditorEx& e, const Assigned& a) { e.SetTopRow(a.i); }},
    {"TopCol", "TopCol", [](TEditorEx& e) { return Int(e.TopCol()); }, [](TEditorEx& e, const Assigned& a) { e.SetTopCol(ClampCol(a.i)); }},
    {"WordWrap", "WordWrap", [](TEditorEx& e) { return Bool(e.WordWrap()); }, nullptr},
    {"WrapByte", "WrapByte", [](TEditorEx& e) { return Int(e.WrapByte()); }, nullptr},
    {"ReadOnly", "ReadOnly", [](TEditorEx& e) { return Bool(e.ReadOnly()); }, [](TEditorEx& e, const Assigned& a) { e.SetReadOnly(a.b); }},
    {"Modified", "Modified", [](TEditorEx& e) { return Bool(e.Modified()); }, nullptr},
    {"OverWrite", "OverWrite", [](TEditorEx& e) { return Bool(e.OverWrite()); }, [](TEditorEx& e, const Assigned& a) { e.SetOverWrite(a.b); }},
    // A tab wider than a screen is no tab; the bound keeps column arithmetic far from overflow.
    {"TabSpaceCount", "TabSpaceCount", [](TEditorEx& e) { return Int(e.TabSpaceCount()); },
     [](TEditorEx& e, const Assigned& a) { e.SetTabSpaceCount(int(std::clamp<lua_Integer>(a.i, 1, 256))); }},
    {"TokenString", "TokenString", [](TEditorEx& e) { return Str(e.Model().TokenString()); }, nullptr},
    {"WordString", "WordString", [](TEditorEx& e) { return Str(e.Model().WordString()); }, nullptr},
    {"Handle", nullptr, nullptr, nullptr},
    {"HitSelLength", "HitSelLength", [](TEditorEx& e) { return Int(e.HitSelLength()); }, nullptr},
};

// Reads the pane's text a few megabytes at a time, each piece on the main thread, so that a large
// pane does not hold the window still. A change to lines already read starts the read again
// (a pane that keeps changing them is read at once after a few tries); lines added after them
// are taken along. False when the token names no pane.
bool ReadText(lua_State* L, std::uint64_t token, std::string& out)
{
    constexpr std::size_t Piece = 4u << 20;
    constexpr int Tries = 3;
    // Only the main thread touches it: the listener runs there, and so does every piece.
    const auto firstChanged = std::make_shared<long long>(LLONG_MAX);
    std::weak_ptr<TEditorLines> watched;
    int subscription = 0;
    long long next = 0;
    int tries = 0;
    bool done = false;
    const auto unwatch = [&] {
        if (const auto lines = watched.lock()) lines->Unsubscribe(subscription);
        watched.reset();
    };
    while (!done) {
        const bool found = OnPane(L, token, [&](TerminalHost&, TEditorEx& ed) {
            const std::shared_ptr<TEditorLines>& lines = ed.Model().SharedLines();
            if (watched.lock() != lines || *firstChanged < next) {
                unwatch();
                out.clear();
                next = 0;
                *firstChanged = LLONG_MAX;
                if (++tries > Tries) {
                    out = lines->Text();
                    done = true;
                    return;
                }
                watched = lines;
                subscription = lines->Subscribe([firstChanged](const TLinesChange& change) {
                    if (change.kind == TLinesChange::Edit) *firstChanged = std::min(*firstChanged, change.from.line);
                    else if (change.kind == TLinesChange::Reset) *firstChanged = 0;
                });
                out.reserve(std::size_t(lines->TextLength()));
            }
            for (const std::size_t end = out.size() + Piece; next < lines->LineCount() && out.size() < end; ++next) {
                if (next > 0) out += "\r\n";
                out += lines->LineView(next);
            }
            if (next >= lines->LineCount()) {
                unwatch();
                done = true;
            }
        });
        if (!found) {
            LuaGuard(L, [&] {
                ScriptContext(L).Core->OnMain([&](TerminalHost&) { unwatch(); });
                return 0;
            });
            return false;
        }
    }
    return true;
}

int NoProperty(lua_State* L, bool assign)
{
    std::uint64_t token = TokenOf(L, 1);
    const int wanted = assign ? ClampInt(LuaToInteger(L, 3)) : 0;
    int sheet = -1;
    LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
            if (assign) {
                TEditorEx* pane = window.SheetPane(wanted);
                token = pane != nullptr ? PaneToken(*pane) : 0;
            }
            sheet = SheetOfToken(window, token);
        });
        return 0;
    });
    if (assign) SetHandle(L, 1, token);
    lua_pushinteger(L, sheet);
    return 1;
}

int Property(lua_State* L, const PropertyEntry& entry, bool assign)
{
    CheckStop(L);
    if (entry.get == nullptr) {
        if (std::strcmp(entry.name, "No") == 0) return NoProperty(L, assign);
        lua_pushinteger(L, 0);  // Handle: only reached when the raw field is absent
        return 1;
    }
    const std::uint64_t token = TokenOf(L, 1);
    if (token == 0) AccessError(L, entry.errorName);
    Assigned value;
    if (assign && entry.set != nullptr) {
        value.i = LuaToInteger(L, 3);
        value.b = lua_toboolean(L, 3) != 0;
        value.s = TextArg(L, 3);
    }
    Result r;
    if (!assign && std::strcmp(entry.name, "Text") == 0) {
        r.kind = Result::String;
        if (!ReadText(L, token, r.s)) AccessError(L, entry.errorName);
        lua_pushlstring(L, r.s.data(), r.s.size());
        return 1;
    }
    const bool found = OnPane(L, token, [&](TerminalHost&, TEditorEx& ed) {
        if (assign && entry.set != nullptr) entry.set(ed, value);
        r = entry.get(ed);
    });
    if (!found) AccessError(L, entry.errorName);
    PushResult(L, r);
    return 1;
}

const PropertyEntry* FindProperty(lua_State* L)
{
    if (lua_type(L, 2) != LUA_TSTRING) return nullptr;
    const char* key = lua_tostring(L, 2);
    for (const PropertyEntry& entry : Properties)
        if (std::strcmp(entry.name, key) == 0) return &entry;
    return nullptr;
}

// __index (object, name) and __newindex (object, name, value).
int EditorDispatch(lua_State* L)
{
    const PropertyEntry* entry = FindProperty(L);
    if (entry == nullptr) return 0;
    return Property(L, *entry, lua_gettop(L) >= 3);
}

}  // namespace

std::uint64_t PaneToken(TEditorEx& pane)
{
    // Ids are never reused, so a token of a closed pane cannot come to name a new one.
    static std::atomic<std::uint64_t> next{1};
    const QVariant id = pane.property(PaneIdProperty);
    if (id.isValid()) return id.toULongLong();
    const std::uint64_t token = next.fetch_add(1);
    pane.setProperty(PaneIdProperty, QVariant::fromValue<qulonglong>(token));
    return token;
}

TEditorEx* PaneByToken(const TerminalHost& window, std::uint64_t token)
{
    const int sheet = SheetOfToken(window, token);
    return sheet < 0 ? nullptr : window.SheetPane(sheet);
}

int ScriptEditor(lua_State* L)
{
    if (lua_gettop(L) < 1 || lua_type(L, 1) != LUA_TTABLE) ArgError(L, "Editor");
    lua_settop(L, 1);
    const int sheet = ScriptSheet(L);
    std::uint64_t token = 0;
    LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
            if (TEditorEx* pane = window.SheetPane(sheet)) token = PaneToken(*pane);
        });
        return 0;
    });
    SetHandle(L, 1, token);
    for (std::size_t m = 0; m < std::size(Methods); ++m) {
        lua_pushstring(L, Methods[m].name);
        lua_pushcfunction(L, MethodFunctionTable[m]);
        lua_rawset(L, 1);
    }
    SetObjectHandlers(L, 1, EditorDispatch, EditorDispatch);
    return 1;
}

int PaneNoAndText(lua_State* L) { return Property(L, *FindProperty(L), false); }

void RegisterPaneFunctions(lua_State* L)
{
    static constexpr TScriptFunction functions[] = {{"Editor", Guarded<ScriptEditor>}};
    RegisterScriptFunctions(L, functions);
    lua_pushcfunction(L, PaneNoAndText);
    lua_setfield(L, LUA_REGISTRYINDEX, PaneNoAndTextKey);
}

}  // namespace pek
