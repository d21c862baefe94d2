// The Gui* script functions. Arguments are read on the script's thread, widgets are touched only
// in calls carried out on the main thread, and a wait polls the panel's result on the script's
// own thread (or, for a run on the main thread, serves events while it waits).
#include "scriptgui/GuiLuaApi.h"

#include "lua/LuaKeyTable.h"
#include "lua/LuaUtils.h"
#include "macro/ScriptKit.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "scriptgui/GuiLua_u.h"
#include "scriptgui/MxBinEditor.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <variant>

namespace pek {

// Shared by the feature and every script state that has the functions; the owner pointer is
// read and cleared on the main thread only.
struct TGuiShared {
    TScriptGui* Owner = nullptr;
    std::shared_ptr<TGuiWaitState> Wait = std::make_shared<TGuiWaitState>();
};

namespace {

TLuaKeyTable<TGuiShared>& Table()
{
    static TLuaKeyTable<TGuiShared> table;
    return table;
}

}  // namespace

TScriptGui::TScriptGui(TerminalHost& window, TMacroHost& host) : window_(window), shared_(std::make_shared<TGuiShared>())
{
    shared_->Owner = this;
    key_ = Table().Add(shared_);
    AddScriptLibrary(host, [key = key_](lua_State* L) { RegisterGuiFunctions(L, key); });
    ServeAction(window, "ViewLuaGuiAct", window.Action("ViewLuaGuiAct"), [shared = shared_] {
        if (shared->Owner) shared->Owner->Form().ShowFront();
    });
    // The panel is closed with the main window (ending any wait), so it never outlives it on screen.
    window.OnClosing([shared = shared_] {
        if (shared->Owner && shared->Owner->FormIfAny()) shared->Owner->FormIfAny()->close();
    });
}

TScriptGui::~TScriptGui()
{
    Table().Remove(key_);
    shared_->Owner = nullptr;
    // A wait still open ends as a closed panel's would.
    shared_->Wait->Decide(2, true);
    form_.reset();
}

TGuiLuaForm& TScriptGui::Form()
{
    if (!form_) form_ = std::make_unique<TGuiLuaForm>(window_.Ini(), shared_->Wait);
    return *form_;
}

std::unique_ptr<TScriptGui> AttachScriptGui(TerminalHost& window, TMacroHost& host)
{
    return std::make_unique<TScriptGui>(window, host);
}

namespace {

// How often a thread run waiting in the panel checks for a stop request.
constexpr int StopCheckMs = 5;

// The feature the function belongs to, held for the call. A feature that has gone ends the run;
// a number that never named one (a script replaced it) is an error.
std::shared_ptr<TGuiShared> Shared(lua_State* L)
{
    return Table().FromUpvalue(L, Sjis("Gui関数の内部データが壊れています").c_str());
}

// Runs fn with the shown panel on the main thread; a panel that is gone ends the run.
template <typename F>
void OnPanel(lua_State* L, F&& fn)
{
    const std::shared_ptr<TGuiShared> shared = Shared(L);
    OnMain(L, [&](TerminalHost&) {
        if (shared->Owner == nullptr) throw Exception("STOP");
        TGuiLuaForm& form = shared->Owner->Form();
        form.ShowFront();
        fn(form);
    });
}

bool IsNumber(lua_State* L, int i) { return lua_isnumber(L, i) != 0; }
bool IsString(lua_State* L, int i) { return lua_isstring(L, i) != 0; }
bool IsBool(lua_State* L, int i) { return lua_type(L, i) == LUA_TBOOLEAN; }
bool IsTable(lua_State* L, int i) { return lua_type(L, i) == LUA_TTABLE; }

std::string Text(lua_State* L, int i)
{
    std::size_t len = 0;
    const char* s = lua_tolstring(L, i, &len);
    return s == nullptr ? std::string() : std::string(s, len);
}

std::vector<std::string> Options(lua_State* L, int index)
{
    std::vector<std::string> options;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        std::size_t len = 0;
        const char* s = luaL_tolstring(L, -1, &len);
        options.emplace_back(s, len);
        lua_pop(L, 2);
    }
    return options;
}

QColor Color(lua_Integer bgr)
{
    const auto v = std::uint32_t(bgr);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

void PushId(lua_State* L, int id) { lua_pushinteger(L, id); }

// Ends the wait on the panel however the waiting call is left (a "STOP" error included).
class TWaitEnd {
public:
    TWaitEnd(TMainThread main, std::shared_ptr<TGuiShared> shared, std::uint64_t serial)
        : main_(std::move(main)), shared_(std::move(shared)), serial_(serial) {}
    ~TWaitEnd()
    {
        try {
            main_.Call([this](TerminalHost&) {
                if (shared_->Owner && shared_->Owner->FormIfAny()) shared_->Owner->FormIfAny()->EndWait(serial_);
            });
        } catch (const std::exception&) {
            // The window is gone: nothing is left to end.
        }
    }
    TWaitEnd(const TWaitEnd&) = delete;
    TWaitEnd& operator=(const TWaitEnd&) = delete;

private:
    TMainThread main_;
    std::shared_ptr<TGuiShared> shared_;
    std::uint64_t serial_;
};

// Starts a wait on the panel (after `prepare`, in the same main-thread call) and returns the
// result state once the user decided. Raises "STOP" when the run is stopped or the panel closed.
template <typename F>
int Wait(lua_State* L, F&& prepare)
{
    const std::shared_ptr<TGuiShared> shared = Shared(L);
    const std::shared_ptr<TGuiWaitState> state = shared->Wait;
    std::uint64_t serial = 0;
    OnPanel(L, [&](TGuiLuaForm& form) {
        prepare(form);
        serial = form.BeginWait();
    });
    const TWaitEnd end(ScriptContext(L).Main(), shared, serial);
    const bool onMain = OnMainThread();
    for (;;) {
        CheckStop(L);
        if (state->Aborted.load() == serial) luaL_error(L, "STOP");
        if (const int result = state->Result.load(); result != 0) return result;
        if (!onMain) {
            // Woken at once by a decision or the panel's closing; the stop check runs every
            // StopCheckMs meanwhile (a 1 ms sleep costs more CPU than the wait is allowed).
            std::unique_lock lock(state->Mutex);
            state->Changed.wait_for(lock, std::chrono::milliseconds(StopCheckMs),
                                    [&] { return state->Result.load() != 0 || state->Aborted.load() == serial; });
            continue;
        }
        // A run on the main thread: serve events, waking at a decision or after a short while
        // for the stop check.
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        if (shared->Owner && shared->Owner->FormIfAny())
            QObject::connect(shared->Owner->FormIfAny(), &TGuiLuaForm::Decided, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// --- the functions -------------------------------------------------------------------------

int GuiResult(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 1 && IsNumber(L, 1);
    const lua_Integer id = ok ? LuaToInteger(L, 1) : 0;
    std::variant<std::monostate, std::string, double, lua_Integer> value;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (!ok) return;
        QWidget* item = form.Item(id);
        if (auto* label = qobject_cast<QLabel*>(item)) value = QStringToCp932(label->text());
        else if (auto* sel = qobject_cast<TSel*>(item)) value = lua_Integer(sel->Options().Selected() + 1);
        else if (auto* menu = qobject_cast<TMenuBtn*>(item)) value = lua_Integer(menu->Options().Selected() + 1);
        else if (auto* memo = qobject_cast<TLMemo*>(item)) value = memo->Value();
        else if (auto* num = qobject_cast<TNumEdPnl*>(item)) {
            const std::string text = num->Value();
            switch (num->Kind()) {
            case TNumKind::Float: value = NumEditFloatValue(text); break;
            case TNumKind::Integer: value = lua_Integer(NumEditIntValue(text)); break;
            case TNumKind::Hex4: value = lua_Integer(NumEditHexValue(text, 4)); break;
            case TNumKind::Hex8: value = lua_Integer(NumEditHexValue(text, 8)); break;
            }
        } else if (auto* str = qobject_cast<TEdPnl*>(item)) value = str->Value();
    });
    if (!ok) ArgError(L, "GuiResult");
    if (const auto* s = std::get_if<std::string>(&value)) lua_pushlstring(L, s->data(), s->size());
    else if (const auto* d = std::get_if<double>(&value)) lua_pushnumber(L, *d);
    else if (const auto* i = std::get_if<lua_Integer>(&value)) lua_pushinteger(L, *i);
    else lua_pushnil(L);
    return 1;
}

int GuiInput(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    const bool ok = n == 0 || (n == 1 && IsBool(L, 1));
    if (!ok) {
        OnPanel(L, [](TGuiLuaForm&) {});
        ArgError(L, "GuiInput");
    }
    const bool keep = n == 1 && lua_toboolean(L, 1);
    const int result = Wait(L, [](TGuiLuaForm& form) { form.EnterFirstRow(); });
    if (!keep) OnPanel(L, [](TGuiLuaForm& form) { form.ReleaseRows(); });
    lua_pushboolean(L, result == 1);
    return 1;
}

int GuiEnable(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    const bool ok = (n == 1 || n == 2) && IsNumber(L, 1) && (n == 1 || IsBool(L, 2));
    const lua_Integer id = ok ? LuaToInteger(L, 1) : 0;
    const bool enable = n == 1 || lua_toboolean(L, 2);
    bool found = false;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (!ok) return;
        if (QWidget* item = form.Item(id)) {
            found = true;
            form.EnableItem(item, enable);
        }
    });
    if (!ok) ArgError(L, "GuiEnable");
    if (!found) luaL_error(L, "ItemID=%s%s", std::to_string(id).c_str(), Sjis(" は見つかりません").c_str());
    return 0;
}

int GuiClear(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 0;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (ok) form.Clear();
    });
    if (!ok) ArgError(L, "GuiClear");
    return 0;
}

int GuiLocate(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 2 && IsNumber(L, 1) && IsNumber(L, 2);
    const lua_Integer column = ok ? LuaToInteger(L, 1) : 0, row = ok ? LuaToInteger(L, 2) : 0;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (ok) form.Locate(column, row);
    });
    if (!ok) ArgError(L, "GuiLocate");
    return 0;
}

int GuiScroll(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 1;
    const lua_Integer rows = ok ? LuaToInteger(L, 1) : 0;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (ok) form.Scroll(rows);
    });
    if (!ok) ArgError(L, "LuaGuiScroll");
    return 0;
}

int GuiLabel(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    const bool ok = n >= 1 && n <= 3 && IsString(L, 1) && (n < 2 || IsNumber(L, 2)) && (n < 3 || IsNumber(L, 3));
    const std::string text = ok ? Text(L, 1) : std::string();
    const std::optional<lua_Integer> color = ok && n >= 2 ? std::optional(LuaToInteger(L, 2)) : std::nullopt;
    const std::optional<lua_Integer> background = ok && n >= 3 ? std::optional(LuaToInteger(L, 3)) : std::nullopt;
    int id = -1;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (!ok) return;
        auto* label = new QLabel(Cp932ToQString(text));
        QPalette palette = label->palette();
        if (color) palette.setColor(QPalette::WindowText, Color(*color));
        if (background) {
            palette.setColor(QPalette::Window, Color(*background));
            label->setAutoFillBackground(true);
        }
        label->setPalette(palette);
        id = form.AddItem(label);
        label->adjustSize();
        label->show();
        form.Advance(label);
    });
    if (!ok) ArgError(L, "GuiLabel");
    PushId(L, id);
    return 1;
}

int GuiMenuInput(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 3 && IsNumber(L, 2) && IsTable(L, 3);
    if (!ok) {
        OnPanel(L, [](TGuiLuaForm&) {});
        ArgError(L, "GuiMenuInput");
    }
    const std::string title = Text(L, 1);
    const lua_Integer columns = LuaToInteger(L, 2);
    const std::vector<std::string> options = Options(L, 3);
    int id = -1;
    const int result = Wait(L, [&](TGuiLuaForm& form) {
        auto* menu = new TMenuBtn(form, nullptr);
        menu->setTitle(Cp932ToQString(title));
        id = form.AddItem(menu);
        for (const auto& option : options) menu->AddOption(option);
        menu->SetColumns(int(std::clamp<lua_Integer>(columns, 0, 1 << 16)));
        menu->Arrange();
        form.Advance(menu);
        if (menu->Options().Count() > 0) {
            form.activateWindow();
            menu->Options().Select(0, true);
        }
    });
    int chosen = 0;
    OnPanel(L, [&](TGuiLuaForm& form) {
        // Looked up again: the panel may have been cleared meanwhile, which counts as Cancel.
        auto* menu = qobject_cast<TMenuBtn*>(form.Item(id));
        if (menu == nullptr) return;
        if (result == 1) chosen = menu->Options().Selected() + 1;
        form.EnableItem(menu, false);
    });
    lua_pushinteger(L, chosen);
    PushId(L, id);
    return 2;
}

int GuiSel(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    const bool ok = (n == 2 || n == 3) && IsString(L, 1) && IsTable(L, 2) && (n < 3 || IsNumber(L, 3));
    std::string title;
    std::vector<std::string> options;
    lua_Integer initial = 1;
    if (ok) {
        title = Text(L, 1);
        options = Options(L, 2);
        if (n == 3) initial = LuaToInteger(L, 3);
    }
    int id = -1;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (!ok) return;
        auto* sel = new TSel(form, nullptr);
        sel->SetCaption(title);
        id = form.AddItem(sel);
        form.AddRow(sel);
        // Clamped before the subtraction: the script's number may be anything.
        sel->Options().SetSelected(int(std::clamp<lua_Integer>(initial, INT32_MIN / 2, INT32_MAX / 2) - 1));
        for (const auto& option : options) sel->AddOption(option);
        sel->Arrange();
        form.Advance(sel);
    });
    if (!ok) ArgError(L, "GuiSel");
    PushId(L, id);
    return 1;
}

int AddEditRow(lua_State* L, const char* name, std::optional<TNumKind> kind)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 2 && IsString(L, 1) && (kind ? IsNumber(L, 2) : IsString(L, 2));
    std::string title, value;
    if (ok) {
        title = Text(L, 1);
        if (kind == TNumKind::Hex4 || kind == TNumKind::Hex8) value = GuiHexText(LuaToInteger(L, 2), GuiHexDigits(*kind));
        else value = Text(L, 2);
    }
    int id = -1;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (!ok) return;
        TEdPnl* row = kind ? static_cast<TEdPnl*>(new TNumEdPnl(form, nullptr, *kind)) : new TStr(form, nullptr);
        row->SetCaption(title);
        row->SetValue(value);
        id = form.AddItem(row);
        form.AddRow(row);
        row->Arrange();
        form.Advance(row);
    });
    if (!ok) ArgError(L, name);
    PushId(L, id);
    return 1;
}

int GuiStr(lua_State* L) { return AddEditRow(L, "GuiStr", std::nullopt); }
int GuiNum(lua_State* L) { return AddEditRow(L, "GuiNum", TNumKind::Float); }
int GuiInt(lua_State* L) { return AddEditRow(L, "GuiInt", TNumKind::Integer); }
int GuiHex4(lua_State* L) { return AddEditRow(L, "GuiHex4", TNumKind::Hex4); }
int GuiHex8(lua_State* L) { return AddEditRow(L, "GuiHex8", TNumKind::Hex8); }

int GuiMemo(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    const bool ok = n >= 2 && n <= 4 && IsNumber(L, 1) && IsNumber(L, 2) && (n < 3 || IsString(L, 3)) && (n < 4 || IsBool(L, 4));
    const lua_Integer columns = ok ? LuaToInteger(L, 1) : 0, rows = ok ? LuaToInteger(L, 2) : 0;
    const std::optional<std::string> text = ok && n >= 3 ? std::optional(Text(L, 3)) : std::nullopt;
    const bool readOnly = ok && n >= 4 && lua_toboolean(L, 4);
    int id = -1;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (!ok) return;
        auto* memo = new TLMemo(form, nullptr, int(std::clamp<lua_Integer>(columns, 0, 4000)), int(std::clamp<lua_Integer>(rows, 0, 4000)));
        memo->setReadOnly(readOnly);
        id = form.AddItem(memo);
        if (text) memo->Puts(Cp932ToQString(*text));
        memo->show();
        form.Advance(memo);
    });
    if (!ok) ArgError(L, "GuiMemo");
    PushId(L, id);
    return 1;
}

int GuiMemoPuts(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 2 && IsNumber(L, 1);
    const lua_Integer id = ok ? LuaToInteger(L, 1) : 0;
    std::string text;
    if (ok) {
        std::size_t len = 0;
        const char* s = luaL_tolstring(L, 2, &len);
        text.assign(s, len);
        lua_pop(L, 1);
    }
    OnPanel(L, [&](TGuiLuaForm& form) {
        // An id that names no memo does nothing.
        if (auto* memo = ok ? qobject_cast<TLMemo*>(form.Item(id)) : nullptr) memo->Puts(Cp932ToQString(text));
    });
    if (!ok) ArgError(L, "GuiMemoPuts");
    return 0;
}

int GuiMemoClear(lua_State* L)
{
    CheckStop(L);
    const bool ok = lua_gettop(L) == 1 && IsNumber(L, 1);
    const lua_Integer id = ok ? LuaToInteger(L, 1) : 0;
    OnPanel(L, [&](TGuiLuaForm& form) {
        if (auto* memo = ok ? qobject_cast<TLMemo*>(form.Item(id)) : nullptr) memo->clear();
    });
    if (!ok) ArgError(L, "GuiMemoClear");
    return 0;
}

// A block of bytes made by GuiBinBuffer for GuiBinInput: a header, then the bytes. The header binds
// the block to its own address, so that a userdata of another kind that a script gave this type's
// metatable (debug.setmetatable) is still refused: only such blocks are ever written to.
struct TBinBufferHeader {
    std::uint64_t Tag;
    std::uint64_t Size;
};

constexpr const char* BinBufferType = "pek.GuiBinBuffer";
constexpr lua_Integer MaxBinBuffer = lua_Integer(1) << 30;

std::uint64_t BinBufferTag(const void* block)
{
    static const std::uint64_t secret = [] {
        std::random_device random;
        return (std::uint64_t(random()) << 32) ^ random() ^ 0x9E3779B97F4A7C15ull;
    }();
    return std::uint64_t(reinterpret_cast<std::uintptr_t>(block)) ^ secret;
}

// The bytes of a block at index and their count, or null for anything else.
unsigned char* BinBufferBytes(lua_State* L, int index, std::size_t& size)
{
    void* block = lua_type(L, index) == LUA_TUSERDATA ? luaL_testudata(L, index, BinBufferType) : nullptr;
    const std::size_t length = block ? lua_rawlen(L, index) : 0;
    if (length < sizeof(TBinBufferHeader)) return nullptr;
    TBinBufferHeader header{};
    std::memcpy(&header, block, sizeof header);
    if (header.Tag != BinBufferTag(block) || header.Size != length - sizeof header) return nullptr;
    size = std::size_t(header.Size);
    return static_cast<unsigned char*>(block) + sizeof header;
}

// buffer:sub([i [, j]]): the bytes i to j as a string, counted as string.sub counts them.
int BinBufferSub(lua_State* L)
{
    std::size_t size = 0;
    const unsigned char* bytes = BinBufferBytes(L, 1, size);
    const int n = lua_gettop(L);
    if (bytes == nullptr || n > 3 || (n >= 2 && !IsNumber(L, 2)) || (n >= 3 && !IsNumber(L, 3))) ArgError(L, "GuiBinBuffer");
    const auto length = std::int64_t(size);
    const auto position = [&](int index, std::int64_t fallback) {
        const std::int64_t p = n >= index ? LuaToInteger(L, index) : fallback;
        if (p >= 0) return p;
        return p < -length ? 0 : length + p + 1;
    };
    const std::int64_t first = std::max<std::int64_t>(1, position(2, 1));
    const std::int64_t last = std::min(length, position(3, -1));
    if (first > last) lua_pushliteral(L, "");
    else lua_pushlstring(L, reinterpret_cast<const char*>(bytes) + first - 1, std::size_t(last - first + 1));
    return 1;
}

int BinBufferLength(lua_State* L)
{
    std::size_t size = 0;
    if (BinBufferBytes(L, 1, size) == nullptr) ArgError(L, "GuiBinBuffer");
    lua_pushinteger(L, lua_Integer(size));
    return 1;
}

// GuiBinBuffer(size or bytes): a block for GuiBinInput, zeroed or holding a copy of the bytes.
int GuiBinBuffer(lua_State* L)
{
    CheckStop(L);
    const int type = lua_type(L, 1);
    const bool ok = lua_gettop(L) == 1 && (type == LUA_TNUMBER || type == LUA_TSTRING);
    const lua_Integer size = !ok ? -1 : type == LUA_TSTRING ? lua_Integer(lua_rawlen(L, 1)) : LuaToInteger(L, 1);
    if (size < 0 || size > MaxBinBuffer || (type == LUA_TNUMBER && lua_tonumber(L, 1) != double(size))) ArgError(L, "GuiBinBuffer");
    luaL_getmetatable(L, BinBufferType);
    if (!lua_istable(L, -1)) luaL_error(L, "%s", Sjis("Gui関数の内部データが壊れています").c_str());
    void* block = lua_newuserdata(L, sizeof(TBinBufferHeader) + std::size_t(size));
    const TBinBufferHeader header{BinBufferTag(block), std::uint64_t(size)};
    std::memcpy(block, &header, sizeof header);
    auto* bytes = static_cast<char*>(block) + sizeof header;
    if (type == LUA_TSTRING) std::memcpy(bytes, lua_tostring(L, 1), std::size_t(size));
    else std::memset(bytes, 0, std::size_t(size));
    lua_insert(L, -2);
    lua_setmetatable(L, -2);
    return 1;
}

int GuiBinInput(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    // The buffer is a block made by GuiBinBuffer, or a string whose edited bytes come back as an
    // extra result.
    std::size_t capacity = 0;
    const bool isBlock = n >= 1 && BinBufferBytes(L, 1, capacity) != nullptr;
    const bool isString = n >= 1 && lua_type(L, 1) == LUA_TSTRING;
    if (isString) capacity = lua_rawlen(L, 1);
    bool ok = n >= 2 && n <= 5 && (isBlock || isString) && IsNumber(L, 2);
    for (int i = 3; ok && i <= n; ++i) ok = IsBool(L, i);
    const lua_Integer size = ok ? LuaToInteger(L, 2) : 0;
    ok = ok && size >= 0 && std::uint64_t(size) <= capacity;
    if (!ok) {
        OnPanel(L, [](TGuiLuaForm&) {});
        ArgError(L, "GuiBinInput");
    }
    const bool showOffsets = n >= 3 && lua_toboolean(L, 3);
    const bool showText = n >= 4 && lua_toboolean(L, 4);
    const bool readOnly = n >= 5 && lua_toboolean(L, 5);
    const char* source = isBlock ? reinterpret_cast<const char*>(BinBufferBytes(L, 1, capacity)) : lua_tostring(L, 1);
    std::string bytes(source, std::size_t(size));
    int id = -1;
    const int result = Wait(L, [&](TGuiLuaForm& form) {
        auto* grid = new TMxBinEditor;
        id = form.AddItem(grid);
        grid->SetRowDigits(2);
        grid->SetInputMode(TMxInputMode::imStrling);
        grid->SetHideOffsetHeader(!showOffsets);
        grid->SetHideRowCount(!showOffsets);
        grid->SetHideByteView(!showText);
        grid->SetReadOnlyMode(readOnly);
        grid->LoadFromMemory(bytes.data(), std::int64_t(bytes.size()));
        // Sized to its content, but no larger than the room right of and below the cursor: beyond
        // that it scrolls, with its scroll bars inside the panel.
        const QSize content = grid->ContentSize();
        const int frame = 2 * grid->frameWidth();
        const int vbar = grid->verticalScrollBar()->sizeHint().width();
        const int hbar = grid->horizontalScrollBar()->sizeHint().height();
        const int minWidth = 8 * grid->Geometry().W + vbar + frame;
        const int minHeight = grid->Geometry().HeaderHeight() + 3 * grid->Geometry().RowHeight + hbar + frame;
        const int maxWidth = std::max(minWidth, form.MainPnl()->width() - form.Cursor().X - GuiOriginX);
        const int maxHeight = std::max(minHeight, form.SpaceBelowCursor() - 5);
        bool needV = false, needH = false;
        for (int pass = 0; pass < 2; ++pass) {
            needH = content.width() + frame + (needV ? vbar : 0) > maxWidth;
            needV = content.height() + frame + (needH ? hbar : 0) > maxHeight;
        }
        grid->resize(std::min(maxWidth, content.width() + frame + (needV ? vbar : 0)),
                     std::min(maxHeight, content.height() + frame + (needH ? hbar : 0)));
        grid->show();
        grid->setFocus();
        form.Advance(grid);
    });
    std::int64_t edited = -1;  // the content's length after OK
    OnPanel(L, [&](TGuiLuaForm& form) {
        auto* grid = qobject_cast<TMxBinEditor*>(form.Item(id));
        if (grid == nullptr) return;  // cleared meanwhile: as Cancel
        if (result == 1) {
            edited = grid->FileSize();
            bytes.resize(std::size_t(edited));
            bytes.resize(std::size_t(grid->SaveToMemory(bytes.data(), edited, true)));
        }
        form.EnableItem(grid, false);
    });
    // Written back here, on the script's own thread: what fits, and zeros where bytes were deleted,
    // so that no stale copy of the old tail stays.
    if (edited >= 0 && isBlock) {
        unsigned char* block = BinBufferBytes(L, 1, capacity);
        const std::size_t kept = std::min(bytes.size(), std::size_t(size));
        std::memcpy(block, bytes.data(), kept);
        std::memset(block + kept, 0, std::size_t(size) - kept);
    }
    // OK without a change of length is true; otherwise the new length says what the user deleted
    // or added (added bytes beyond the block's size are not kept).
    if (edited < 0) lua_pushboolean(L, 0);
    else if (edited == size) lua_pushboolean(L, 1);
    else lua_pushinteger(L, lua_Integer(edited));
    PushId(L, id);
    if (!isString) return 2;
    lua_pushlstring(L, bytes.data(), bytes.size());
    return 3;
}

// The metatable of GuiBinBuffer's blocks, in the state's registry.
void RegisterBinBufferType(lua_State* L)
{
    luaL_newmetatable(L, BinBufferType);
    lua_pushcfunction(L, BinBufferLength);
    lua_setfield(L, -2, "__len");
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, BinBufferSub);
    lua_setfield(L, -2, "sub");
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
}

constexpr TScriptFunction Functions[] = {
    {"GuiResult", GuiResult}, {"GuiInput", GuiInput}, {"GuiEnable", GuiEnable}, {"GuiClear", GuiClear},
    {"GuiLocate", GuiLocate}, {"GuiScroll", GuiScroll}, {"GuiLabel", GuiLabel}, {"GuiBinInput", GuiBinInput},
    {"GuiMenuInput", GuiMenuInput}, {"GuiSel", GuiSel}, {"GuiStr", GuiStr}, {"GuiNum", GuiNum},
    {"GuiInt", GuiInt}, {"GuiHex4", GuiHex4}, {"GuiHex8", GuiHex8}, {"GuiMemo", GuiMemo},
    {"GuiMemoPuts", GuiMemoPuts}, {"GuiMemoClear", GuiMemoClear}, {"GuiBinBuffer", GuiBinBuffer},
};

}  // namespace

void RegisterGuiFunctions(lua_State* L, std::int64_t feature)
{
    RegisterBinBufferType(L);
    RegisterScriptFunctions(L, Functions, lua_Integer(feature));
}

}  // namespace pek
