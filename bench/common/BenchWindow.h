#pragma once
// The window the benches measure: shown at a fixed size with its sheets loaded; the first
// sheet's port when it opened, else null.
#include "bench/common/BenchSupport.h"
#include "bench/terminal/TerminalBench.h"
#include "serial/CommXEx.h"
#include "terminal/main_u.h"

#include <fcntl.h>

#include <cstdio>
#include <memory>
#include <string>

namespace pek::bench {

inline TCommXEx* ShowBenchWindow(TPekForm& form)
{
    form.resize(1000, 700);
    form.show();
    form.LoadSheets();
    TCommXEx* port = form.SheetCount() > 0 ? form.SheetPort(0) : nullptr;
    return port != nullptr && port->IsOpen() ? port : nullptr;
}

// The bench window on one sheet whose port is the pseudo-terminal `device`, the bench playing the
// device on its master end (made non-blocking); the sheet's settings go to iniPath. Null, with a
// line saying so, when the port did not open.
inline std::unique_ptr<TPekForm> OpenWindowOnPty(const Pty& device, const std::string& iniPath, int timeTyp)
{
    fcntl(device.master, F_SETFL, fcntl(device.master, F_GETFL) | O_NONBLOCK);
    WriteSheetProfile(iniPath, device.path, timeTyp);
    auto form = std::make_unique<TPekForm>(iniPath);
    if (ShowBenchWindow(*form) != nullptr) return form;
    std::printf("the window's port did not open\n");
    return nullptr;
}

}  // namespace pek::bench
