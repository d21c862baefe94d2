#pragma once
// The debugger attached to the main window and the macro host: "!" commands run under it while it
// is idle, the window's "デバッガー表示" command shows it, print goes to its console, and closing
// the main window during a debugged run stops the run first.
#include <memory>

namespace pek {

class TerminalHost;
class TMacroHost;
class TfrmMacro;

class TDebuggerHost {
public:
    TDebuggerHost(TerminalHost& window, TMacroHost& host);
    ~TDebuggerHost();
    TDebuggerHost(const TDebuggerHost&) = delete;
    TDebuggerHost& operator=(const TDebuggerHost&) = delete;

    TfrmMacro& Form() { return *form_; }

private:
    class Runner;
    std::unique_ptr<TfrmMacro> form_;
    std::unique_ptr<Runner> runner_;
    TMacroHost& host_;
    // Handlers given to the window reach the debugger through this; cleared when it goes.
    std::shared_ptr<TDebuggerHost*> self_;
    bool closeWhenIdle_ = false;
};

// For the composition root; the returned object must be destroyed before the macro host.
std::unique_ptr<TDebuggerHost> AttachDebugger(TerminalHost& window, TMacroHost& host);

}  // namespace pek
