#include "macro/MacroLua_u.h"

#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "macro/RunGuard.h"
#include "macro/macrothread_u.h"
#include "serial/CommXEx.h"
#include "terminal/TerminalHost.h"

#include <exception>

namespace pek {

std::uint64_t TMacroLua::Run(int sheet, const std::string& fileName, const std::vector<std::string>& arguments)
{
    if (core_->Closed()) return 0;
    std::string caption;
    core_->OnMain([&](TerminalHost& window) {
        if (const TCommXEx* port = window.SheetPort(sheet)) caption = "Com" + std::to_string(port->PortNo());
    });
    if (core_->Empty()) core_->LockFlag() = false;
    // Without a debugger every run is a thread run; debug_ decides nothing yet.
    (void)debug_;
    auto thread = std::make_shared<TMacroThread>(core_, fileName, arguments);
    lua_State* L = thread->NewState();
    if (L == nullptr) return 0;
    LuaInitState(L);
    InstallRunGuard(L);
    SetScriptContext(L, core_, thread.get());
    RegisterFunctions(L);
    SetGlobalInteger(L, "_PekNo", sheet);
    const std::uint64_t id = core_->Add(caption + ": " + fileName, thread);
    try {
        thread->Start(id);
    } catch (const std::exception&) {
        core_->WorkerEnded();
        core_->Remove(id);
        return 0;
    }
    return id;
}

}  // namespace pek
