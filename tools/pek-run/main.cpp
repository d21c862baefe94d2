// pek-run: runs a macro against a device without a window and ends with the run's exit status.
#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "macro/MacroHost.h"
#include "macro/MacroLua_u.h"
#include "macro/ScriptKit.h"
#include "macro/macrothread_u.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/SheetSettings.h"
#include "tools/pek-run/HeadlessHost.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace pek;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitTimeout = 124;

// Asked for with --help: the usage on standard output, and a success.
constexpr const char* HelpWanted = "";

int Usage(const char* problem)
{
    const bool help = problem == HelpWanted;
    if (!help) std::fprintf(stderr, "pek-run: %s\n", problem);
    std::fputs(
        "usage: pek-run [options] SCRIPT [ARGS...]\n"
        "  Runs the Lua macro SCRIPT as a thread run on one sheet whose pane is standard output.\n"
        "  ARGS are the script's table `arg`.\n"
        "  --device PATH      the serial device (a tty or pty); without one the run has no port\n"
        "  --baud N           bit rate\n"
        "  --framing DPS      data bits 5-8, parity N/O/E, stop bits 1/1.5/2 (8N1, 7E2, 8N1.5)\n"
        "  --flow F           none, rtscts, dtrdsr or xonxoff\n"
        "  --line-end E       what Trans adds: cr, lf, crlf or none\n"
        "  --timestamp T      time-stamp type: 0 none, 1 tick count, 2 elapsed, 3 date and time\n"
        "  --settings FILE    take the port settings from this settings file's sheet section\n"
        "  --sheet N          which sheet section of --settings (default 0)\n"
        "  --log FILE         log received, sent and shown text to FILE (--log-binary: raw bytes)\n"
        "  --echo             show what Trans sends on standard output too\n"
        "  --timeout S        stop the run after S seconds and exit 124\n"
        "  Exit status: 0 the script ended, n from os.exit(n), 1 a script error (on standard\n"
        "  error with file and line), 2 bad arguments, 124 time-out, 130/143 SIGINT/SIGTERM.\n",
        help ? stdout : stderr);
    return help ? 0 : ExitUsage;
}

struct RunOptions {
    std::string device;
    std::optional<int> baud, charSize, flow, lineEnd, timeStamp;
    std::optional<TCommParityBits> parity;
    std::optional<TCommStopBits> stopBits;
    std::string settings;
    int sheet = 0;
    std::string log;
    bool logBinary = false;
    bool echo = false;
    double timeoutSeconds = 0;
    std::string script;
    std::vector<std::string> arguments;
};

std::optional<long> ParseInt(const char* text, long low, long high)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

template <typename T>
std::optional<T> Pick(const char* text, std::initializer_list<std::pair<const char*, T>> names)
{
    for (const auto& [name, value] : names)
        if (std::strcmp(text, name) == 0) return value;
    return std::nullopt;
}

bool ParseFraming(const std::string& text, RunOptions& options)
{
    if (text.size() < 3 || text[0] < '5' || text[0] > '8') return false;
    const auto parity = Pick<TCommParityBits>(text.substr(1, 1).c_str(), {{"N", cpbNone}, {"O", cpbOdd}, {"E", cpbEven}});
    const auto stop = Pick<TCommStopBits>(text.substr(2).c_str(), {{"1", csb1}, {"1.5", csb1p5}, {"2", csb2}});
    if (!parity || !stop) return false;
    options.charSize = text[0] - '0';
    options.parity = parity;
    options.stopBits = stop;
    return true;
}

// Fills options; returns a problem text, or null when the command line is sound.
const char* ParseArguments(int argc, char** argv, RunOptions& options)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string flag = argv[i];
        if (flag == "--") {
            ++i;
            break;
        }
        if (flag == "--echo") {
            options.echo = true;
            continue;
        }
        if (flag == "--log-binary") {
            options.logBinary = true;
            continue;
        }
        if (flag == "-h" || flag == "--help") return HelpWanted;
        if (i + 1 >= argc) return "an option lacks its value";
        const char* value = argv[++i];
        if (flag == "--device") options.device = value;
        else if (flag == "--settings") options.settings = value;
        else if (flag == "--log") options.log = value;
        else if (flag == "--baud") {
            const auto n = ParseInt(value, 10, 100000000);
            if (!n) return "--baud takes a bit rate of at least 10";
            options.baud = int(*n);
        } else if (flag == "--sheet") {
            const auto n = ParseInt(value, 0, 0xFFFF);
            if (!n) return "--sheet takes a sheet number";
            options.sheet = int(*n);
        } else if (flag == "--timestamp") {
            const auto n = ParseInt(value, 0, 3);
            if (!n) return "--timestamp takes 0, 1, 2 or 3";
            options.timeStamp = int(*n);
        } else if (flag == "--framing") {
            if (!ParseFraming(value, options)) return "--framing takes data bits, parity and stop bits, as 8N1";
        } else if (flag == "--flow") {
            options.flow = Pick<int>(value, {{"none", cfcNone}, {"rtscts", cfcRtsCts}, {"dtrdsr", cfcDtrDsr}, {"xonxoff", cfcXonXoff}});
            if (!options.flow) return "--flow takes none, rtscts, dtrdsr or xonxoff";
        } else if (flag == "--line-end") {
            options.lineEnd = Pick<int>(value, {{"none", ctNone}, {"cr", ctCr}, {"crlf", ctCrLf}, {"lf", ctLf}});
            if (!options.lineEnd) return "--line-end takes cr, lf, crlf or none";
        } else if (flag == "--timeout") {
            char* end = nullptr;
            const double seconds = std::strtod(value, &end);
            // Up to a QTimer's reach (about 24 days).
            if (end == value || *end != '\0' || !(seconds > 0) || seconds > 2e6) return "--timeout takes seconds above 0";
            options.timeoutSeconds = seconds;
        } else {
            return "unknown option";
        }
    }
    if (i >= argc) return "no script given";
    options.script = argv[i++];
    for (; i < argc; ++i) options.arguments.emplace_back(argv[i]);
    return nullptr;
}

// What the run came to, filled by the worker and read on the main thread.
struct Outcome {
    std::mutex mutex;
    std::string error;                  // UTF-8; empty while no error was reported
    std::optional<int> exitCode;        // from os.exit
    std::function<void()> exitRequested;  // main thread
};

// A script error reaches the user as a box in the window; here it goes to standard error as
// "file:line: message".
class ErrorToStderr final : public DialogService {
public:
    explicit ErrorToStderr(std::shared_ptr<Outcome> outcome) : outcome_(std::move(outcome)) {}
    int MessageBox(QWidget*, const QString& text, const QString& caption, unsigned) override
    {
        std::string body = text.toStdString();
        std::string where = caption.toStdString();
        // "Line = N\r\rmessage" from a run's error.
        static const std::string linePrefix = "Line = ";
        if (body.rfind(linePrefix, 0) == 0) {
            const auto breakAt = body.find("\r\r");
            if (breakAt != std::string::npos) {
                where += ":" + body.substr(linePrefix.size(), breakAt - linePrefix.size());
                body.erase(0, body.find_first_not_of(' ', breakAt + 2));
            }
        }
        std::fprintf(stderr, "%s: %s\n", where.c_str(), body.c_str());
        std::fflush(stderr);
        std::lock_guard lock(outcome_->mutex);
        if (outcome_->error.empty()) outcome_->error = where + ": " + body;
        return IDOK;
    }
    std::optional<QString> OpenFileName(QWidget*, const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> SaveFileName(QWidget*, const FileDialogRequest&) override { return std::nullopt; }
    int Exec(QDialog&) override { return 0; }

private:
    std::shared_ptr<Outcome> outcome_;
};

// Functions that need a window: the name is upvalue 1.
int WindowOnly(lua_State* L)
{
    return luaL_error(L, "%s needs a window: pek-run has none", lua_tostring(L, lua_upvalueindex(1)));
}

constexpr const char* WindowOnlyFunctions[] = {
    "Editor",   "FileDialog",  "InpPara",      "SelMenu",   "MessageBox", "ClipBoard",    "ShellExecute",
    "GuiResult", "GuiInput",   "GuiEnable",    "GuiClear",  "GuiLocate",  "GuiScroll",    "GuiLabel",
    "GuiBinInput", "GuiMenuInput", "GuiSel",   "GuiStr",    "GuiNum",     "GuiInt",       "GuiHex4",
    "GuiHex8",  "GuiMemo",     "GuiMemoPuts",  "GuiMemoClear", "GuiBinBuffer",
};

// os.exit ends the run, not the process under the other runs' feet: the status is kept, the run
// stops as a forced stop does (no pcall can catch it), and the main thread ends the program.
// The outcome slot's type: the debug library reaches the upvalue and its __gc, so both check it,
// and the finalizer only empties the slot (called twice, or before os.exit, it leaves it empty).
constexpr const char* OutcomeSlotType = "pek-run outcome";

int ReleaseOutcome(lua_State* L)
{
    static_cast<std::shared_ptr<Outcome>*>(luaL_checkudata(L, 1, OutcomeSlotType))->reset();
    return 0;
}

int ScriptExit(lua_State* L)
{
    auto* slot = static_cast<std::shared_ptr<Outcome>*>(luaL_testudata(L, lua_upvalueindex(1), OutcomeSlotType));
    if (slot == nullptr || !*slot) return luaL_error(L, "os.exit: the run's outcome is gone");
    const std::shared_ptr<Outcome> outcome = *slot;
    int code = EXIT_SUCCESS;
    if (lua_type(L, 1) == LUA_TBOOLEAN) code = lua_toboolean(L, 1) ? EXIT_SUCCESS : EXIT_FAILURE;
    else if (lua_type(L, 1) == LUA_TNUMBER) code = int(LuaToInteger(L, 1) & 0xFF);   // NaN, inf and 2^63 included
    else if (!lua_isnoneornil(L, 1)) luaL_checknumber(L, 1);
    {
        std::lock_guard lock(outcome->mutex);
        if (!outcome->exitCode) outcome->exitCode = code;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [o = outcome] { if (o->exitRequested) o->exitRequested(); }, Qt::QueuedConnection);
    if (TMacroThread* run = ScriptContext(L).Run) run->ForceStop();
    lua_pushstring(L, "STOP");
    return lua_error(L);
}

TScriptLibrary HeadlessLibrary(std::shared_ptr<Outcome> outcome)
{
    return [outcome](lua_State* L) {
        for (const char* name : WindowOnlyFunctions) {
            lua_pushstring(L, name);
            lua_pushcclosure(L, WindowOnly, 1);
            lua_setglobal(L, name);
        }
        lua_getglobal(L, "os");
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            return;
        }
        // The state owns its copy of the shared outcome; __gc empties it (an empty shared_ptr
        // holds nothing, so its destructor need not run).
        auto* slot = static_cast<std::shared_ptr<Outcome>*>(lua_newuserdata(L, sizeof(std::shared_ptr<Outcome>)));
        new (slot) std::shared_ptr<Outcome>(outcome);
        luaL_newmetatable(L, OutcomeSlotType);
        lua_pushcfunction(L, ReleaseOutcome);
        lua_setfield(L, -2, "__gc");
        lua_setmetatable(L, -2);
        lua_pushcclosure(L, ScriptExit, 1);
        lua_setfield(L, -2, "exit");
        lua_pop(L, 1);
    };
}

int signalPipe[2] = {-1, -1};

void OnSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool WatchSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Sets up the port from the settings file's section and the options; null for a run without one.
std::shared_ptr<TCommXEx> MakePort(const RunOptions& options)
{
    auto port = std::make_shared<TCommXEx>();
    bool wanted = !options.device.empty();
    if (!options.settings.empty()) {
        const ProfileFile ini(options.settings);
        const std::string section = SheetSection(options.sheet);
        if (!LoadPortSettings(ini, section, *port))
            throw Exception("no section [" + section + "] in " + options.settings);
        wanted = wanted || ini.ReadBool(section, "ComPortOpen", false);
        port->SetPortResolver(PortsFromSettings(options.settings));
    }
    if (!options.device.empty()) port->SetPortResolver([device = options.device](int) { return device; });
    if (options.baud) port->SetBitRate(*options.baud);
    if (options.charSize) port->SetCharSize(*options.charSize);
    if (options.parity) port->SetParityBit(*options.parity);
    if (options.stopBits) port->SetStopBit(*options.stopBits);
    if (options.flow) port->SetFlowCtrl(TCommFlowCtrls(*options.flow));
    if (options.lineEnd) port->SetCrTypTrans(TCrTyp(*options.lineEnd));
    if (options.timeStamp) port->SetTimeTyp(std::uint8_t(*options.timeStamp));
    return wanted ? port : nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    RunOptions options;
    if (const char* problem = ParseArguments(argc, argv, options)) return Usage(problem);
    std::string script;
    if (!Utf8ToCp932Checked(options.script, script)) {
        std::fprintf(stderr, "pek-run: the script's file name cannot be used: %s\n", options.script.c_str());
        return ExitFailure;
    }

    // No display: the core application serves the port's reports and the runs' calls.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    UseCNumericLocale();
    if (!WatchSignals()) {
        std::perror("pek-run: signals");
        return ExitFailure;
    }

    std::shared_ptr<TCommXEx> port;
    try {
        port = MakePort(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pek-run: %s\n", Cp932ToUtf8(error.what()).c_str());
        return ExitUsage;
    }
    HeadlessHost host(port, options.settings, stdout, stderr);
    host.SetEcho(options.echo);
    if (port) {
        port->OnReceive = [&host](TCustomCommX& sender, std::int32_t size) {
            StoreReceived(host, static_cast<TCommXEx&>(sender), size);
        };
        port->OnDisconnect = [&host](TCustomCommX&) { host.Message("the device went away", "pek-run"); };
        try {
            port->Open();
            if (!options.log.empty())
                port->LogOpen(Utf8ToCp932(options.log), true, true, true, options.logBinary);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "pek-run: %s\n", Cp932ToUtf8(error.what()).c_str());
            return ExitFailure;
        }
    }

    auto outcome = std::make_shared<Outcome>();
    ErrorToStderr errors(outcome);
    auto core = std::make_shared<TMacroCore>(host);
    core->OnRunError = [&errors](TerminalHost&, const std::string& text, const std::string& caption) {
        errors.MessageBox(nullptr, Cp932ToQString(text), Cp932ToQString(caption), MB_OK);
    };
    core->AddScriptLibrary(HeadlessLibrary(outcome));
    host.SetMacroRunner([core](int sheet, const std::string& fileName, bool) { TMacroLua(core, false).Run(sheet, fileName); });

    bool finishing = false;
    const auto finish = [&](int code) {
        if (finishing) return;
        finishing = true;
        core->StopAll(TMacroHost::CloseWaitMs);
        core->Close();
        host.ClosePort();
        std::fflush(stdout);
        app.exit(code);
    };
    const auto ended = [&] {
        std::lock_guard lock(outcome->mutex);
        return !outcome->error.empty() ? ExitFailure : outcome->exitCode.value_or(EXIT_SUCCESS);
    };
    core->OnListChanged = [&] {
        if (core->Empty()) finish(ended());
    };
    outcome->exitRequested = [&] { finish(ended()); };

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char signal = 0;
        if (::read(signalPipe[0], &signal, 1) == 1) finish(128 + signal);
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [&] {
        std::fprintf(stderr, "pek-run: time-out after %g s\n", options.timeoutSeconds);
        finish(ExitTimeout);
    });
    if (options.timeoutSeconds > 0) timeout.start(int(options.timeoutSeconds * 1000));

    if (TMacroLua(core, false).Run(0, script, options.arguments) == 0) {
        std::fprintf(stderr, "pek-run: the run could not start\n");
        host.ClosePort();
        return ExitFailure;
    }
    const int status = app.exec();
    std::fflush(stdout);
    // A run that even a forced stop could not end (stuck in a C call) must not meet freed objects.
    if (!core->WaitIdle(0)) std::_Exit(status);
    return status;
}
