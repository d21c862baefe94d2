#include "debugger/DebuggerViewModel.h"

#include "lua/LuaUtils.h"
#include "platform/CodePage.h"

#include <algorithm>

namespace pek {

namespace {

constexpr int kViewLimit = 32;

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

TDebuggerViewModel::TDebuggerViewModel(TDebugEngine& engine) : engine_(engine), watches_(std::size_t(WatchRows)) {}

void TDebuggerViewModel::Notify(Part part)
{
    if (OnChanged) OnChanged(part);
}

std::vector<TDebuggerViewModel::BreakRow> TDebuggerViewModel::Breakpoints() const
{
    std::vector<BreakRow> rows;
    for (int i = 0; i < engine_.FBreakPoints.Count(); ++i)
        rows.push_back({engine_.FBreakPoints.Items(i).FileName, engine_.FBreakPoints.Items(i).Line + 1});
    return rows;
}

void TDebuggerViewModel::SetDisplayOn(bool on)
{
    if (on == displayOn_) return;
    displayOn_ = on;
    Notify(Part::Display);
}

void TDebuggerViewModel::SetGlobalsShown(bool shown)
{
    globalsShown_ = shown;
    if (shown) RefreshGlobals(false);
}

// ----- reading a state

void TDebuggerViewModel::ReadStack(lua_State* L)
{
    // Only raw reads of the running function's slots; nothing here calls into the script.
    stack_.clear();
    LuaStackToStrings(L, stack_, kViewLimit);
    Notify(Part::Stack);
}

void TDebuggerViewModel::ReadLocals(lua_State* L)
{
    std::vector<std::pair<std::string, std::string>> locals;
    if (!LuaProtected(L, [&](lua_State* S) { LuaLocalsToStrings(S, locals, kViewLimit, TDebugEngine::ProtectedLevel); }))
        locals.clear();
    locals_.clear();
    for (const auto& [name, value] : locals) locals_.push_back(name + "=" + value);
    Notify(Part::Locals);
}

void TDebuggerViewModel::ReadGlobals(lua_State* L)
{
    std::vector<LuaTreeNode> tree;
    if (!LuaProtected(L, [&](lua_State* S) {
            lua_pushglobaltable(S);
            LuaTableToTree(S, -1, tree, kViewLimit);
            lua_pop(S, 1);
        }))
        tree.clear();
    globals_.SetTree(std::move(tree));
    Notify(Part::Globals);
}

void TDebuggerViewModel::ReadWatches(lua_State* L)
{
    for (Watch& watch : watches_) {
        watch.Value.clear();
        if (!watch.Name.empty() && !LuaProtected(L, [&](lua_State* S) {
                watch.Value = LuaEvalName(S, watch.Name, kViewLimit, TDebugEngine::ProtectedLevel);
            }))
            watch.Value.clear();
    }
    Notify(Part::Watches);
}

void TDebuggerViewModel::RefreshStack()
{
    if (lua_State* L = engine_.ViewState()) ReadStack(L);
}

void TDebuggerViewModel::RefreshLocals()
{
    if (lua_State* L = engine_.ViewState()) ReadLocals(L);
}

void TDebuggerViewModel::RefreshGlobals(bool force)
{
    if (!force && !globalsShown_) return;
    if (lua_State* L = engine_.ViewState()) ReadGlobals(L);
}

void TDebuggerViewModel::RefreshWatches()
{
    if (lua_State* L = engine_.ViewState()) ReadWatches(L);
}

std::string TDebuggerViewModel::EvalName(const std::string& name)
{
    lua_State* L = engine_.ViewState();
    if (L == nullptr) return {};
    std::string value;
    if (!LuaProtected(L, [&](lua_State* S) { value = LuaEvalName(S, name, kViewLimit, TDebugEngine::ProtectedLevel); }))
        return {};
    return value;
}

std::string TDebuggerViewModel::ChangeValue(const std::string& name, const std::string& value)
{
    lua_State* L = engine_.ViewState();
    if (L == nullptr) return {};
    std::string error;
    if (!LuaProtected(L, [&](lua_State* S) { error = LuaSetValue(S, name, value, kViewLimit, TDebugEngine::ProtectedLevel); }))
        error = Sjis("変更できませんでした");
    ReadLocals(L);
    ReadWatches(L);
    return error;
}

// ----- watches and breakpoints

void TDebuggerViewModel::AddWatch(const std::string& name)
{
    if (name.empty()) return;
    const auto free = std::find_if(watches_.begin(), watches_.end(), [](const Watch& w) { return w.Name.empty(); });
    SetWatchName(int(free - watches_.begin()), name);
}

void TDebuggerViewModel::SetWatchName(int row, const std::string& name)
{
    if (row < 0) return;
    if (std::size_t(row) >= watches_.size()) watches_.resize(std::size_t(row) + 1);
    watches_[std::size_t(row)] = {name, {}};
    if (lua_State* L = engine_.ViewState()) ReadWatches(L);
    else Notify(Part::Watches);
}

void TDebuggerViewModel::ToggleBreakPoint(const std::string& file, int line)
{
    engine_.FBreakPoints.Toggle(file, line);
    Notify(Part::Breakpoints);
}

// ----- the run

void TDebuggerViewModel::RunStarting()
{
    console_.clear();
    messages_.clear();
    calls_.clear();
    Notify(Part::Console);
    Notify(Part::Messages);
    Notify(Part::Calls);
}

void TDebuggerViewModel::ShowPosition(const std::string& file, int row, lua_State* L)
{
    positionFile_ = file;
    positionRow_ = row;
    Notify(Part::Position);
    ReadStack(L);
    ReadLocals(L);
    if (globalsShown_) ReadGlobals(L);
    ReadWatches(L);
}

void TDebuggerViewModel::LeavePosition()
{
    if (positionRow_ < 0) return;
    positionFile_.clear();
    positionRow_ = -1;
    Notify(Part::Position);
}

void TDebuggerViewModel::ShowAfterRun(lua_State* L)
{
    ReadStack(L);
    ReadGlobals(L);
    ReadWatches(L);
}

void TDebuggerViewModel::AppendMessage(const std::string& text)
{
    messages_.push_back(text);
    if (OnAppended) OnAppended(Part::Messages, text);
}

void TDebuggerViewModel::AppendConsole(const std::string& text)
{
    console_ += text;
    if (OnAppended) OnAppended(Part::Console, text);
}

void TDebuggerViewModel::CallEntered(const std::string& text)
{
    calls_.push_front(Trimmed(text));
    Notify(Part::Calls);
}

void TDebuggerViewModel::CallsDropped(int count)
{
    const auto dropped = std::min(calls_.size(), std::size_t(std::max(0, count)));
    if (dropped == 0) return;
    calls_.erase(calls_.begin(), calls_.begin() + std::ptrdiff_t(dropped));
    Notify(Part::Calls);
}

}  // namespace pek
