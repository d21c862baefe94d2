// pek: the terminal program.
#include "app/Features.h"
#include "macro/MacroHost.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/Signals.h"
#include "terminal/PortList.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The settings file: --ini FILE, else PEK_INI, else the program's path with ".ini".
std::string SettingsPath(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--ini") == 0) return argv[i + 1];
    if (const char* env = std::getenv("PEK_INI"); env && *env) return env;
    const QFileInfo program(QCoreApplication::applicationFilePath());
    return (program.absolutePath() + "/" + program.completeBaseName() + ".ini").toStdString();
}

int ListPorts(const std::string& iniPath)
{
    pek::ProfileFile ini(iniPath);
    pek::AssignUsbPortNumbers(ini);
    for (const auto& port : pek::ListPresentPorts(ini))
        std::printf("COM%d\t%s%s\n", port.number, port.path.c_str(), port.usb ? "\t(USB)" : "");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("usage: pek [--ini FILE] [--list-ports]");
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pek");
    // The window speaks Japanese; Qt's own dialogs and buttons should too.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // Qt takes the user's locale; numbers in scripts and files are always written with a point.
    pek::UseCNumericLocale();
    const std::string iniPath = SettingsPath(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--list-ports") == 0) return ListPorts(iniPath);

    {
        // Adapters plugged in since the last start get their COM numbers before sheets open ports.
        pek::ProfileFile ini(iniPath);
        try {
            pek::AssignUsbPortNumbers(ini);
        } catch (const std::exception&) {
        }
    }
    auto* form = new pek::TPekForm(iniPath);
    form->setAttribute(Qt::WA_DeleteOnClose);
    // The features, each attached to the window through its interface.
    const pek::TFeatures features(*form);
    // Logout, kill or Ctrl+C close the window as the user would: sheets, ports and geometry are saved.
    const QPointer<pek::TPekForm> mainWindow(form);
    pek::TerminationSignals terminationSignals([&mainWindow](int) {
        if (mainWindow) mainWindow->close();
        QCoreApplication::quit();
    });
    form->show();
    form->LoadSheets();
    const int result = app.exec();
    delete mainWindow.data();  // closed by a signal, its deferred deletion may not have run
    return result;
}
