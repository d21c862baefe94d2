// pek-tour: a first session with Pek as a new user would have it, on a simulated device, with a
// screenshot of the screen after each step (for the README; ./dev tour runs it on a virtual
// display). Steps: the window with the device's lines, the settings dialog, "AT" sent and
// answered, a macro stopped at a breakpoint in the debugger, the sheet split, the search dialog.
//   pek-tour --ini FILE --macro FILE --out DIR
#include "app/Features.h"
#include "debugger/DebuggerHost.h"
#include "debugger/MacroFrm.h"
#include "editor/EditorEx.h"
#include "macro/MacroHost.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "terminal/main_u.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

std::string outDir;

// Serves events until done() or the time is up.
bool ServeUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Shot(const char* name)
{
    ServeUntil([] { return false; }, 300);  // painted and settled
    const std::string path = outDir + "/" + name;
    if (QScreen* screen = QGuiApplication::primaryScreen(); screen && screen->grabWindow(0).save(QString::fromStdString(path)))
        std::printf("pek-tour: %s\n", path.c_str());
    else
        std::fprintf(stderr, "pek-tour: could not save %s\n", path.c_str());
}

// Shows each modal dialog for its screenshot and cancels it; message boxes are answered OK.
class Photographer : public pek::DialogService {
public:
    std::string next = "dialog.png";
    int MessageBox(QWidget*, const QString& text, const QString&, unsigned) override
    {
        std::printf("pek-tour: box: %s\n", text.toStdString().c_str());
        return pek::IDOK;
    }
    std::optional<QString> OpenFileName(QWidget*, const pek::FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> SaveFileName(QWidget*, const pek::FileDialogRequest&) override { return std::nullopt; }
    int Exec(QDialog& dialog) override
    {
        dialog.show();
        dialog.raise();
        Shot(next.c_str());
        dialog.hide();
        return QDialog::Rejected;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::string ini, macro;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--ini") == 0) ini = argv[i + 1];
        else if (std::strcmp(argv[i], "--macro") == 0) macro = argv[i + 1];
        else if (std::strcmp(argv[i], "--out") == 0) outDir = argv[i + 1];
    }
    if (ini.empty() || macro.empty() || outDir.empty()) {
        std::fprintf(stderr, "usage: pek-tour --ini FILE --macro FILE --out DIR\n");
        return 2;
    }
    pek::UseCNumericLocale();
    Photographer photographer;
    const pek::ScopedDialogService service(photographer);

    pek::TPekForm form(ini);
    const pek::TFeatures features(form);
    form.setGeometry(40, 40, 900, 620);
    form.show();
    form.LoadSheets();
    pek::TEditorEx* pane = form.SheetPane(0);
    if (pane == nullptr || !ServeUntil([&] { return pane->LineCount() > 4; }, 10000)) {
        std::fprintf(stderr, "pek-tour: no lines came from the device\n");
        return 1;
    }

    // Send AT from the command line, as typed, and wait for the answer.
    form.RunCommandLine("AT");
    ServeUntil([&] { return pane->Text().find("OK") != std::string::npos; }, 5000);
    Shot("01-main-window.png");

    photographer.next = "02-settings.png";
    form.Action("OptSettingAct")->trigger();

    // A macro under the debugger, stopped at a breakpoint on its third line.
    pek::TfrmMacro& debugger = features.Debugger().Form();
    debugger.setGeometry(120, 80, 760, 600);
    debugger.LoadFile(macro);
    debugger.ToggleBreakPoint(macro, 2);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!debugger.IsRunning() || debugger.Engine().Executing()) return;
        poll.stop();
        Shot("03-debugger.png");
        debugger.Action("acRun")->trigger();
    });
    poll.start(20);
    form.RunCommandLine("!" + macro);  // returns when the run has ended
    debugger.hide();

    form.Action("ViewSplitAct")->trigger();
    Shot("04-split.png");
    photographer.next = "05-search.png";
    form.Action("SrchSearchAct")->trigger();

    form.close();
    return 0;
}
