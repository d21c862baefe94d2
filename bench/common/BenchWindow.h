#pragma once
// The window the benches measure: shown at a fixed size with its sheets loaded; the first
// sheet's port when it opened, else null.
#include "serial/CommXEx.h"
#include "terminal/main_u.h"

namespace pek::bench {

inline TCommXEx* ShowBenchWindow(TPekForm& form)
{
    form.resize(1000, 700);
    form.show();
    form.LoadSheets();
    TCommXEx* port = form.SheetCount() > 0 ? form.SheetPort(0) : nullptr;
    return port != nullptr && port->IsOpen() ? port : nullptr;
}

}  // namespace pek::bench
