// pek: the terminal program.
#include "app/Features.h"
#include "app/StartOptions.h"
#include "macro/MacroHost.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/Signals.h"
#include "regex/Onig.h"
#include "terminal/CommandLine.h"
#include "terminal/PortList.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <lua.hpp>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {

void PrintVersion()
{
    std::printf("pek %s\n%s\n", PEK_VERSION, LUA_RELEASE);
    const pek::onig::Library onig;
    if (onig.ok() && pek::onig::api().onig_version)
        std::printf("Oniguruma %s\n", pek::onig::api().onig_version());
    else
        std::printf("Oniguruma: not found (regular expressions unavailable)\n");
}

void PrintHelp(const pek::SettingsLocation& settings, const std::filesystem::path& program)
{
    const std::string examples = pek::ExampleMacroFolder(program.parent_path()).lexically_normal().string();
    std::printf(
        "usage: pek [OPTION]...\n"
        "A serial terminal with Lua 5.2 macros and a Lua debugger.\n"
        "\n"
        "Options:\n"
        "  --ini FILE     use FILE as the settings file\n"
        "  --list-ports   list the serial ports (COM number, device, by-id name) and exit\n"
        "  -h, --help     show this help and exit\n"
        "  -V, --version  show the versions of pek, Lua and Oniguruma and exit\n"
        "  The toolkit's options (-platform NAME, -style NAME, ...) are passed on to Qt.\n"
        "\n"
        "Environment:\n"
        "  PEK_INI          the settings file, when --ini is not given\n"
        "  XDG_CONFIG_HOME  the folder of pek/pek.ini (default ~/.config)\n"
        "  XDG_RUNTIME_DIR  the folder of the windows' sockets for pek-send (pek/ in it; default /tmp/pek-UID)\n"
        "  QT_QPA_PLATFORM  the window system plugin (offscreen runs without a display)\n"
        "\n"
        "Files:\n"
        "  $XDG_CONFIG_HOME/pek/pek.ini\n"
        "      the settings; a pek.ini beside the program is used instead when that folder is\n"
        "      writable (a portable copy)\n"
        "  ascii.txt, beside the settings file\n"
        "      the ASCII code sender's list\n"
        "  %s\n"
        "      the example macros: !demo.lua runs demo.lua from there when the working folder has none\n"
        "\n"
        "Settings file now: %s (%s)\n",
        examples.c_str(), settings.path.c_str(), settings.source.c_str());
}

// One line per port: COM number, the device node, and the stable by-id name when there is one.
int ListPorts(const std::string& iniPath)
{
    pek::ProfileFile ini(iniPath);
    try {
        pek::AssignUsbPortNumbers(ini);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pek: %s: %s\n", iniPath.c_str(), e.what());
    }
    const pek::DeviceFolders folders;
    std::map<std::string, std::string> byIdOfDevice;
    for (const auto& device : pek::ListSerialDevices(folders))
        if (!device.target.empty()) byIdOfDevice.emplace(device.target, device.path);
    const auto ports = pek::ListPresentPorts(ini, folders);
    for (const auto& port : ports) {
        std::error_code ignored;
        const std::filesystem::path device = std::filesystem::canonical(port.path, ignored);
        const std::string node = device.empty() ? port.path : device.string();
        std::string byId;
        if (port.path.starts_with(folders.byId + "/")) byId = port.path;
        else if (const auto it = byIdOfDevice.find(node); it != byIdOfDevice.end()) byId = it->second;
        std::printf("COM%d\t%s\t%s\n", port.number, node.c_str(), byId.empty() ? "-" : byId.c_str());
    }
    if (ports.empty()) std::fprintf(stderr, "pek: no serial ports found\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Everything that prints and exits is decided before any window system is needed.
    const pek::StartOptions options = pek::ParseStartOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "pek: %s\nTry 'pek --help'.\n", options.error.c_str());
        return 2;
    }
    if (options.version) {
        PrintVersion();
        return 0;
    }
    const pek::SettingsEnvironment environment = pek::SettingsEnvironment::OfThisProcess();
    const pek::SettingsLocation settings = pek::ChooseSettingsFile(options.ini, environment);
    if (options.help) {
        PrintHelp(settings, environment.program);
        return 0;
    }
    if (std::string error; !pek::CreateSettingsFolder(settings.path, error))
        std::fprintf(stderr, "pek: %s\n", error.c_str());
    const std::string iniPath = settings.path.string();
    if (options.listPorts) return ListPorts(iniPath);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Pek");
    // The desktop entry's name, which Wayland compositors match the window with.
    QGuiApplication::setDesktopFileName("pek");
    // The window speaks Japanese; Qt's own dialogs and buttons should too.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // Qt takes the user's locale; numbers in scripts and files are always written with a point.
    pek::UseCNumericLocale();

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
