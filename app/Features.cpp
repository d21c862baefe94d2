#include "app/Features.h"

#include "debugger/DebuggerHost.h"
#include "dialogs/ScriptDialogs.h"
#include "dialogs/WindowTools.h"
#include "macro/MacroHost.h"
#include "scriptgui/GuiLuaApi.h"
#include "search/SearchFeature.h"
#include "settings/Settings.h"
#include "terminal/main_u.h"

#include <QCoreApplication>

namespace pek {

TFeatures::TFeatures(TPekForm& form)
    : macroHost_(AttachMacroHost(form)),
      debugger_(AttachDebugger(form, *macroHost_)),
      scriptGui_(AttachScriptGui(form, *macroHost_)),
      settings_(AttachSettings(form)),
      scriptDialogs_(AttachScriptDialogs(form)),
      search_(AttachSearch(form)),
      windowTools_(AttachWindowTools(form))
{
    macroHost_->AddScriptLibrary(ScriptDialogLibrary(scriptDialogs_));
    // The program ends with its main window, whatever tool windows are still open.
    QObject::connect(&form, &QObject::destroyed, QCoreApplication::instance(), &QCoreApplication::quit);
}

// Members go in the reverse order: every feature before the macro host it may use.
TFeatures::~TFeatures() = default;

}  // namespace pek
