#include "dialogs/WindowTools.h"

#include "dialogs/AsciiForm.h"
#include "dialogs/VerForm.h"
#include "platform/CodePage.h"
#include "terminal/TerminalHost.h"

#include <QAction>

namespace pek {

TWindowTools::TWindowTools(TerminalHost& window)
    : ascii_(new TAsciiForm(window)), ver_(new TVerForm(window.DialogParent()))
{
}

TWindowTools::~TWindowTools()
{
    delete ver_.data();
    delete ascii_.data();
}

TAsciiForm* TWindowTools::AsciiForm() const
{
    return ascii_;
}

TVerForm* TWindowTools::VerForm() const
{
    return ver_;
}

QFont ToolWindowFont()
{
    QFont font(Ui("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    return font;
}

std::unique_ptr<TWindowTools> AttachWindowTools(TerminalHost& window)
{
    auto tools = std::make_unique<TWindowTools>(window);
    TAsciiForm* ascii = tools->AsciiForm();
    TVerForm* ver = tools->VerForm();
    ServeAction(window, "RunAsciiCodeAct", ascii, [ascii] { ascii->ShowForm(); });
    ServeAction(window, "HelpVerAct", ver, [ver] { ver->ShowModal(); });
    return tools;
}

}  // namespace pek
