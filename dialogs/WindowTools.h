#pragma once
// The main window's small tool windows: the ASCII code sender (RunAsciiCodeAct) and the version
// dialog (HelpVerAct).
#include <QFont>
#include <QPointer>

#include <memory>

namespace pek {

class TAsciiForm;
class TVerForm;
class TerminalHost;

class TWindowTools {
public:
    // Creates both windows, owned by the window's dialog parent.
    explicit TWindowTools(TerminalHost& window);
    // Those still there go with this object.
    ~TWindowTools();
    TWindowTools(const TWindowTools&) = delete;
    TWindowTools& operator=(const TWindowTools&) = delete;

    TAsciiForm* AsciiForm() const;
    TVerForm* VerForm() const;

private:
    QPointer<TAsciiForm> ascii_;
    QPointer<TVerForm> ver_;
};

// The tool windows' font: "ＭＳ Ｐゴシック", 12 pixels.
QFont ToolWindowFont();

// For the composition root: creates the windows and serves RunAsciiCodeAct and HelpVerAct.
std::unique_ptr<TWindowTools> AttachWindowTools(TerminalHost& window);

}  // namespace pek
