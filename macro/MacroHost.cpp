#include "macro/MacroHost.h"

#include "macro/MacroCore.h"
#include "macro/MacroLua_u.h"
#include "macro/RunGuard.h"
#include "macro/ScriptEditor.h"
#include "macro/ScriptKit.h"
#include "macro/StopMacro_u.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "serial/CommXEx.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QPointer>

namespace pek {

TMacroHost::TMacroHost(TerminalHost& window)
    : core_(std::make_shared<TMacroCore>(window)), self_(std::make_shared<TMacroHost*>(this))
{
    TStopMacroForm::Actions actions;
    std::weak_ptr<TMacroCore> weak = core_;
    actions.List = [weak] { auto core = weak.lock(); return core ? core->RunningMacros() : std::vector<TMacroEntry>{}; };
    actions.Stop = [weak](std::uint64_t id) { if (auto core = weak.lock()) core->Stop(id); };
    actions.ForcedStop = [weak](std::uint64_t id) { if (auto core = weak.lock()) core->ForcedStop(id); };
    actions.MainWindow = [weak, &window]() -> QWidget* {
        auto core = weak.lock();
        return core && !core->Closed() ? window.DialogParent() : nullptr;
    };
    stopForm_ = std::make_unique<TStopMacroForm>(std::move(actions));
    QPointer<TStopMacroForm> form = stopForm_.get();
    core_->OnListChanged = [form] {
        if (form && form->isVisible()) form->UpdateBtnClick();
    };
    core_->OnRunError = [](TerminalHost& window, const std::string& text, const std::string& caption) {
        Dialogs().MessageBox(window.DialogParent(), Cp932ToQString(text), Cp932ToQString(caption), MB_OK);
    };
    core_->AddScriptLibrary(RegisterPaneFunctions);
}

TMacroHost::~TMacroHost()
{
    *self_ = nullptr;
    // A run that could not be ended by the window's closing is left to the process's end.
    if (!core_->Closed()) core_->StopAll(CloseWaitMs);
    core_->Close();
    core_->OnListChanged = nullptr;
}

std::uint64_t TMacroHost::Run(int sheet, const std::string& fileName, const std::vector<std::string>& arguments)
{
    const std::uint64_t id = TMacroLua(core_, false).Run(sheet, fileName, arguments);
    if (stopForm_->isVisible()) stopForm_->UpdateBtnClick();
    return id;
}

void TMacroHost::PortChanged(int sheet) { core_->PortChanged(sheet); }

void TMacroHost::AddScriptLibrary(std::function<void(lua_State*)> library) { core_->AddScriptLibrary(std::move(library)); }

void AddScriptLibrary(TMacroHost& host, TScriptLibrary library) { host.AddScriptLibrary(std::move(library)); }

void TMacroHost::SetDebugger(TDebugRunner* debugger)
{
    debugger_ = debugger;
    core_->StopDebugger = [this] {
        if (debugger_ != nullptr) debugger_->Stop();
    };
}

void TMacroHost::RunCommand(int sheet, const std::string& fileName, bool forceThreadRun)
{
    // Decided and started in one step on the main thread, so two "!" commands never both find the
    // debugger idle.
    if (!forceThreadRun && debugger_ != nullptr && !debugger_->IsRunning()) RunDebugged(sheet, fileName);
    else Run(sheet, fileName);
}

void TMacroHost::RunDebugged(int sheet, const std::string& fileName)
{
    if (core_->Closed() || debugger_ == nullptr || debugger_->IsRunning()) return;
    std::string caption;
    core_->OnMain([&](TerminalHost& window) {
        if (const TCommXEx* port = window.SheetPort(sheet)) caption = "Com" + std::to_string(port->PortNo());
    });
    if (core_->Empty()) core_->LockFlag() = false;
    const std::uint64_t id = core_->Add(caption + ": " + fileName + Sjis(" (ﾃﾞﾊﾞｯｶﾞ付)"), nullptr);
    debugEntry_ = id;
    if (stopForm_->isVisible()) stopForm_->UpdateBtnClick();
    try {
        debugger_->RunFile(fileName, "", nullptr, {});
    } catch (const std::exception& e) {
        // Not readable, or the script's error: the debugger has shown where; the box says what.
        core_->OnMain([&](TerminalHost& window) {
            Dialogs().MessageBox(window.DialogParent(), Cp932ToQString(e.what()), Cp932ToQString(fileName),
                                 MB_OK | MB_ICONERROR);
        });
    }
    // A run that failed before it started never reported its end.
    if (debugEntry_ == id) DebugRunEnded();
}

void TMacroHost::DebugRunEnded()
{
    if (debugEntry_ == 0) return;
    core_->Remove(debugEntry_);
    debugEntry_ = 0;
}

std::vector<TMacroEntry> TMacroHost::RunningMacros() const { return core_->RunningMacros(); }
bool TMacroHost::Stop(std::uint64_t id) { return core_->Stop(id); }
bool TMacroHost::ForcedStop(std::uint64_t id) { return core_->ForcedStop(id); }
bool TMacroHost::StopAll(int waitMs) { return core_->StopAll(waitMs); }
bool TMacroHost::WaitIdle(int waitMs) { return core_->WaitIdle(waitMs); }

void TMacroHost::OnDebuggerState(lua_State* L) { OnDebuggerState(L, nullptr); }

void TMacroHost::OnDebuggerState(lua_State* L, std::function<bool()> stopRequested)
{
    SetScriptContext(L, core_, nullptr).StopRequested = std::move(stopRequested);
    // Finalizers run with hooks off: one that loops would hold the window for good.
    RouteFinalizers(L);
    RegisterFunctions(L);
    int sheet = 0;
    core_->OnMain([&](TerminalHost& window) { sheet = window.ActiveSheet(); });
    SetGlobalInteger(L, "_PekNo", sheet);
}

void TMacroHost::WindowClosing()
{
    stopForm_->hide();
    core_->StopAll(CloseWaitMs);
    core_->Close();
}

std::unique_ptr<TMacroHost> AttachMacroHost(TerminalHost& window)
{
    UseCNumericLocale();
    auto host = std::make_unique<TMacroHost>(window);
    std::weak_ptr<TMacroHost*> self = host->self_;
    const auto with = [self](auto fn) {
        return [self, fn](auto... args) {
            if (auto p = self.lock(); p && *p) fn(**p, args...);
        };
    };
    window.SetMacroRunner(with([](TMacroHost& h, int sheet, const std::string& fileName, bool forceThreadRun) {
        h.RunCommand(sheet, fileName, forceThreadRun);
    }));
    window.OnCommandDone(with([](TMacroHost& h) {
        if (h.StopMacroForm().isVisible()) h.StopMacroForm().UpdateBtnClick();
    }));
    window.OnClosing(with([](TMacroHost& h) { h.WindowClosing(); }));
    // Closing a sheet before the active one renumbers it; runs must not keep a stale port.
    window.OnActiveSheetChanged(with([](TMacroHost& h, int) { h.core_->SheetsChanged(); }));
    // The stop-macro window is shown from the main window and from every shadow window.
    TStopMacroForm* form = &host->StopMacroForm();
    const auto serve = [form](TerminalHost& target) { ShowFromAction(target, "ViewStopMcrAct", form); };
    serve(window);
    window.OnWindowOpened([self, serve](TerminalHost& shadow) {
        if (auto p = self.lock(); p && *p) serve(shadow);
    });
    return host;
}

}  // namespace pek
