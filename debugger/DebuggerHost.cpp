#include "debugger/DebuggerHost.h"

#include "debugger/MacroFrm.h"
#include "editor/EditorEx.h"
#include "macro/MacroHost.h"
#include "terminal/TerminalHost.h"

#include <QAction>
#include <QPointer>
#include <QTimer>

namespace pek {

class TDebuggerHost::Runner : public TDebugRunner {
public:
    explicit Runner(TfrmMacro& form) : form_(form) {}
    bool IsRunning() const override { return form_.IsRunning(); }
    void RunFile(const std::string& fileName, const std::string& functionName, std::vector<std::string>* results,
                 const std::vector<std::string>& args) override
    {
        form_.RunFile(fileName, functionName, results, args);
    }
    void Stop() override { form_.Stop(); }

private:
    TfrmMacro& form_;
};

TDebuggerHost::TDebuggerHost(TerminalHost& window, TMacroHost& host)
    : form_(std::make_unique<TfrmMacro>(&window.Ini(), window.DialogParent())), runner_(std::make_unique<Runner>(*form_)),
      host_(host), self_(std::make_shared<TDebuggerHost*>(this))
{
    TfrmMacro* form = form_.get();
    TMacroHost* macroHost = &host;
    form->SetOnInitState([macroHost, form](lua_State* L) {
        macroHost->OnDebuggerState(L, [form] { return !form->IsRunning(); });
    });
    std::weak_ptr<TDebuggerHost*> weak = self_;
    TerminalHost* windowPtr = &window;
    form->SetOnRunEnd([macroHost, weak, windowPtr] {
        macroHost->DebugRunEnded();
        auto self = weak.lock();
        if (self && *self && (*self)->closeWhenIdle_) {
            (*self)->closeWhenIdle_ = false;
            // After the run's frames have unwound, not from inside them.
            QTimer::singleShot(0, windowPtr->DialogParent(), [w = QPointer<QWidget>(windowPtr->DialogParent())] {
                if (w) w->close();
            });
        }
    });
    host.SetDebugger(runner_.get());
    if (const TEditorEx* pane = window.TemplatePane()) form->SetSourceFont(pane->Properties().Font);

    // The window goes with the main window, its place saved while the settings file is there.
    window.OnClosing([weak] {
        auto self = weak.lock();
        if (!self || !*self) return;
        (*self)->form_->close();
        (*self)->form_->DetachSettings();
    });
    window.OnCloseRequest([weak] {
        auto self = weak.lock();
        if (!self || !*self || !(*self)->form_->IsRunning()) return true;
        (*self)->closeWhenIdle_ = true;
        (*self)->form_->Stop();
        return false;
    });
    // Shown from the main window and from every shadow window.
    const auto serve = [form](TerminalHost& target) { ShowFromAction(target, "ViewDebugger", form); };
    serve(window);
    window.OnWindowOpened([weak, serve](TerminalHost& shadow) {
        if (auto self = weak.lock(); self && *self) serve(shadow);
    });
}

TDebuggerHost::~TDebuggerHost()
{
    *self_ = nullptr;
    host_.SetDebugger(nullptr);
}

std::unique_ptr<TDebuggerHost> AttachDebugger(TerminalHost& window, TMacroHost& host)
{
    return std::make_unique<TDebuggerHost>(window, host);
}

}  // namespace pek
