// The command line and the choice of settings file, decided before any display is needed.
#include "app/StartOptions.h"
#include "support/TempDir.h"
#include "terminal/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pek::test {
namespace {

namespace fs = std::filesystem;

StartOptions Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "pek");
    return ParseStartOptions(int(args.size()), args.data());
}

TEST(StartOptions, OptionsAndErrors)
{
    struct Case {
        std::vector<const char*> args;
        bool help, version, listPorts;
        const char* ini;    // null: none
        const char* error;  // part of the message; null: no error
    };
    const std::vector<Case> cases = {
        {{}, false, false, false, nullptr, nullptr},
        {{"--help"}, true, false, false, nullptr, nullptr},
        {{"-h", "--version"}, true, true, false, nullptr, nullptr},
        {{"-V"}, false, true, false, nullptr, nullptr},
        {{"--list-ports", "--ini", "a.ini"}, false, false, true, "a.ini", nullptr},
        {{"--ini=b.ini"}, false, false, false, "b.ini", nullptr},
        {{"-platform", "offscreen", "--style", "fusion", "-reverse"}, false, false, false, nullptr, nullptr},
        {{"--ini"}, false, false, false, nullptr, "needs a file name"},
        {{"--ini="}, false, false, false, nullptr, "needs a file name"},
        {{"-platform"}, false, false, false, nullptr, "needs a value"},
        {{"--verbose"}, false, false, false, nullptr, "unknown option '--verbose'"},
        {{"-x"}, false, false, false, nullptr, "unknown option"},
        {{"file.txt"}, false, false, false, nullptr, "unexpected argument"},
    };
    for (const Case& c : cases) {
        const StartOptions o = Parse(c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(o.help, c.help) << what;
        EXPECT_EQ(o.version, c.version) << what;
        EXPECT_EQ(o.listPorts, c.listPorts) << what;
        EXPECT_EQ(o.ini.value_or("(none)"), c.ini ? c.ini : "(none)") << what;
        if (c.error) EXPECT_NE(o.error.find(c.error), std::string::npos) << what << ": " << o.error;
        else EXPECT_EQ(o.error, "") << what;
    }
}

// Runs the check as an ordinary user: root may write into any folder, whatever its mode.
bool AsUnprivileged(const std::function<bool()>& check)
{
    if (geteuid() != 0) return check();
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(StartOptions, SettingsFileByPrecedence)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path bin = dir.path() / "bin";
    fs::create_directories(bin);
    SettingsEnvironment env{"", dir.file("xdg").string(), dir.file("home").string(), bin / "pek"};
    const fs::path xdgFile = dir.path() / "xdg" / "pek" / "pek.ini";
    const fs::path homeFile = dir.path() / "home" / ".config" / "pek" / "pek.ini";

    EXPECT_EQ(ChooseSettingsFile(std::nullopt, env).path, xdgFile);
    env.xdgConfigHome = "relative/config";  // not absolute: ignored
    EXPECT_EQ(ChooseSettingsFile(std::nullopt, env).path, homeFile);
    env.xdgConfigHome = "";
    EXPECT_EQ(ChooseSettingsFile(std::nullopt, env).path, homeFile);

    // A pek.ini beside the program in a writable folder: a portable copy that keeps its file.
    WriteFileBytes(bin / "pek.ini", "[Ports]\r\n");
    EXPECT_EQ(ChooseSettingsFile(std::nullopt, env).path, bin / "pek.ini");
    env.pekIni = dir.file("env.ini").string();
    EXPECT_EQ(ChooseSettingsFile(std::nullopt, env).path, env.pekIni);
    EXPECT_EQ(ChooseSettingsFile(std::string("opt.ini"), env).path, "opt.ini");
    EXPECT_EQ(ChooseSettingsFile(std::string("opt.ini"), env).source, "--ini");

    // The same copy in a folder the user cannot write to (installed for all users) is not used.
    env.pekIni = "";
    fs::permissions(bin, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec |
                             fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(AsUnprivileged([&] { return ChooseSettingsFile(std::nullopt, env).path == homeFile; }));
    fs::permissions(bin, fs::perms::owner_all);
}

TEST(StartOptions, SettingsFolderIsCreated)
{
    TempDir dir;
    std::string error;
    const fs::path file = dir.path() / "config" / "pek" / "pek.ini";
    ASSERT_TRUE(CreateSettingsFolder(file, error)) << error;
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(CreateSettingsFolder(file, error)) << "an existing folder is fine";
    WriteFileBytes(dir.file("plain"), "");
    EXPECT_FALSE(CreateSettingsFolder(dir.path() / "plain" / "pek.ini", error));
    EXPECT_NE(error.find("plain"), std::string::npos) << error;
}

TEST(StartOptions, ShippedExamplesAreFoundByPlainName)
{
    TempDir dir;
    fs::create_directories(dir.path() / "bin");
    fs::create_directories(dir.path() / "share" / "pek" / "examples");
    WriteFileBytes(dir.path() / "share" / "pek" / "examples" / "demo.lua", "");
    WriteFileBytes(dir.path() / "share" / "pek" / "secret.lua", "");
    const fs::path bin = dir.path() / "bin";
    EXPECT_EQ(FindExampleMacro("demo.lua", bin), (dir.path() / "share" / "pek" / "examples" / "demo.lua").string());
    for (const char* name : {"missing.lua", "../secret.lua", "examples/demo.lua", "", ".", ".."})
        EXPECT_EQ(FindExampleMacro(name, bin), "") << name;
    // The build tree keeps its copy where the program looks.
    EXPECT_NE(FindExampleMacro("demo.lua", fs::path(PEK_PATH).parent_path()), "");
}

// The program itself, with no display at all: what prints and exits never needs one.
TEST(StartOptions, ProgramExitStatusesWithoutADisplay)
{
    TempDir dir;
    struct Case {
        std::string program, args;
        int status;
        std::string out;  // expected in stdout + stderr
    };
    const std::string pek = PEK_PATH;
    const std::vector<Case> cases = {
        {pek, "--version", 0, "Lua 5.2"},
        {pek, "--help", 0, (dir.path() / "pek" / "pek.ini").string() + " ($XDG_CONFIG_HOME)"},
        {pek, "--list-ports", 0, ""},
        {pek, "--frobnicate", 2, "unknown option '--frobnicate'"},
        {pek, "--ini", 2, "needs a file name"},
        {PEK_SEND_PATH, "--help", 0, "usage: pek-send"},
    };
    for (const Case& c : cases) {
        const std::string out = dir.file("out").string();
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u PEK_INI XDG_CONFIG_HOME='" +
                                    dir.path().string() + "' '" + c.program + "' " + c.args + " >'" + out + "' 2>&1";
        const int status = std::system(command.c_str());
        const std::string text = ReadFileBytes(out);
        ASSERT_TRUE(WIFEXITED(status)) << c.args << "\n" << text;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.program << " " << c.args << "\n" << text;
        EXPECT_NE(text.find(c.out), std::string::npos) << c.args << "\n" << text;
    }
    EXPECT_TRUE(fs::is_directory(dir.path() / "pek")) << "--list-ports makes the settings folder";
}

}  // namespace
}  // namespace pek::test
