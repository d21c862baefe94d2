#pragma once
// What pek is asked to do by its command line, and which settings file it uses. Decided before
// any window system is touched, so --help, --version and --list-ports work without a display.
#include <filesystem>
#include <optional>
#include <string>

namespace pek {

struct StartOptions {
    bool help = false;
    bool version = false;
    bool listPorts = false;
    std::optional<std::string> ini;  // --ini FILE
    std::string error;               // not empty: the command line is wrong (exit status 2)
};

// Our own options, plus the toolkit's (-platform NAME, -style NAME …), which pass through.
StartOptions ParseStartOptions(int argc, const char* const* argv);

// What the choice of settings file depends on besides the command line.
struct SettingsEnvironment {
    std::string pekIni;         // PEK_INI
    std::string xdgConfigHome;  // XDG_CONFIG_HOME
    std::string home;           // HOME
    std::filesystem::path program;  // the running program's own file

    static SettingsEnvironment OfThisProcess();
};

struct SettingsLocation {
    std::filesystem::path path;
    std::string source;  // why this file: for --help
};

// --ini, else PEK_INI, else <program>.ini beside the program when it exists and its folder is
// writable (a portable copy), else $XDG_CONFIG_HOME/pek/pek.ini (~/.config/pek/pek.ini).
SettingsLocation ChooseSettingsFile(const std::optional<std::string>& iniOption, const SettingsEnvironment& env);

// Creates the folder that will hold the settings file (mode 0700 for folders it creates); false
// with the reason in `error` when it cannot.
bool CreateSettingsFolder(const std::filesystem::path& settingsFile, std::string& error);

}  // namespace pek
