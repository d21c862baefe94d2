#include "app/StartOptions.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace pek {

namespace {

// The toolkit's own options that QApplication takes from the command line, with whether each
// is followed by a value.
struct ToolkitOption {
    std::string_view name;
    bool takesValue;
};
constexpr std::array kToolkitOptions{
    ToolkitOption{"platform", true},     ToolkitOption{"platformpluginpath", true},
    ToolkitOption{"platformtheme", true}, ToolkitOption{"plugin", true},
    ToolkitOption{"qwindowgeometry", true}, ToolkitOption{"qwindowicon", true},
    ToolkitOption{"qwindowtitle", true}, ToolkitOption{"display", true},
    ToolkitOption{"geometry", true},     ToolkitOption{"style", true},
    ToolkitOption{"stylesheet", true},   ToolkitOption{"session", true},
    ToolkitOption{"reverse", false},     ToolkitOption{"widgetcount", false},
    ToolkitOption{"nograb", false},      ToolkitOption{"dograb", false},
    ToolkitOption{"sync", false},
};

const ToolkitOption* FindToolkitOption(std::string_view arg)
{
    // Qt accepts them with one dash or two.
    if (arg.starts_with("--")) arg.remove_prefix(2);
    else if (arg.starts_with("-")) arg.remove_prefix(1);
    else return nullptr;
    for (const ToolkitOption& option : kToolkitOptions)
        if (option.name == arg) return &option;
    return nullptr;
}

bool FolderWritable(const std::filesystem::path& folder)
{
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

StartOptions ParseStartOptions(int argc, const char* const* argv)
{
    StartOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version" || arg == "-V") {
            options.version = true;
        } else if (arg == "--list-ports") {
            options.listPorts = true;
        } else if (arg == "--ini") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                options.error = "option '--ini' needs a file name";
                return options;
            }
            options.ini = argv[++i];
        } else if (arg.starts_with("--ini=")) {
            if (arg.size() == 6) {
                options.error = "option '--ini' needs a file name";
                return options;
            }
            options.ini = std::string(arg.substr(6));
        } else if (const ToolkitOption* toolkit = FindToolkitOption(arg)) {
            if (toolkit->takesValue && ++i >= argc) {
                options.error = "option '" + std::string(arg) + "' needs a value";
                return options;
            }
        } else if (arg.starts_with("-")) {
            options.error = "unknown option '" + std::string(arg) + "'";
            return options;
        } else {
            options.error = "unexpected argument '" + std::string(arg) + "'";
            return options;
        }
    }
    return options;
}

SettingsEnvironment SettingsEnvironment::OfThisProcess()
{
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    SettingsEnvironment env{variable("PEK_INI"), variable("XDG_CONFIG_HOME"), variable("HOME"), {}};
    std::error_code ignored;
    env.program = std::filesystem::read_symlink("/proc/self/exe", ignored);
    return env;
}

SettingsLocation ChooseSettingsFile(const std::optional<std::string>& iniOption, const SettingsEnvironment& env)
{
    if (iniOption) return {*iniOption, "--ini"};
    if (!env.pekIni.empty()) return {env.pekIni, "PEK_INI"};
    if (!env.program.empty()) {
        std::filesystem::path portable = env.program;
        portable.replace_extension(".ini");
        std::error_code ignored;
        if (std::filesystem::is_regular_file(portable, ignored) && FolderWritable(portable.parent_path()))
            return {portable, "beside the program (a portable copy)"};
    }
    // Relative values of the variable are to be ignored, as if it were not set.
    if (!env.xdgConfigHome.empty() && env.xdgConfigHome.front() == '/')
        return {std::filesystem::path(env.xdgConfigHome) / "pek" / "pek.ini", "$XDG_CONFIG_HOME"};
    const std::filesystem::path home = env.home.empty() ? std::filesystem::path("/") : std::filesystem::path(env.home);
    return {home / ".config" / "pek" / "pek.ini", "~/.config"};
}

bool CreateSettingsFolder(const std::filesystem::path& settingsFile, std::string& error)
{
    const std::filesystem::path folder = settingsFile.parent_path();
    if (folder.empty()) return true;
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + partial.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) {
        error = folder.string() + " is not a folder";
        return false;
    }
    return true;
}

}  // namespace pek
