// The script API as a hostile script uses it: each input becomes a script of random calls of the
// macro host's script functions (and the Editor object's methods and properties, the Regex
// object's Match) with random arguments, run as a thread run of the macro host against the fake
// window and its pseudo-terminal port. The run must end by itself, by a stop, or at the latest by
// a forced stop, and nothing may crash on the way.
#include "FuzzSupport.h"
#include "macro/FakeTerminal.h"
#include "macro/MacroCore.h"
#include "macro/MacroHost.h"

#include <QApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

using namespace pek;

const char* const Functions[] = {
    "io.write", "io.writeEx", "printf", "printfEx", "Trans", "LogStart", "LogEnd", "Wait", "GetTime",
    "GetTimeStr", "UrlEncode", "UrlDecode", "CharCount", "ProcessMessages", "Lock", "RingBufPos",
    "RingBufGet", "RingBufGetUntil", "RingBufGetAll", "RingBufDataSize", "RingBufSrch", "RingBufClear",
    "Editor", "Regex",
};
const char* const Methods[] = {
    "RowToLines", "LinesToRow", "ColToChar", "GetLineString", "SetLineString", "BeginUpdate", "EndUpdate",
    "Save", "Load", "IsMarked", "SetMarked", "Find", "FindNext", "FindPrev", "HitToSelected", "ClearUndo",
    "Undo", "Redo", "Cut", "Copy", "Paste", "Delete", "SelectAll", "InsertFileName", "SelectWordFromCaret",
    "SelectTokenFromCaret", "SelectLineFromCaret", "Free",
};
const char* const Properties[] = {
    "No", "Text", "SelText", "SelStart", "SelLength", "Selected", "SelMode", "SelSr", "SelEr", "SelSc",
    "SelEc", "LineCount", "RowCount", "ColCount", "Row", "Col", "TopRow", "TopCol", "WordWrap", "WrapByte",
    "ReadOnly", "Modified", "OverWrite", "TabSpaceCount", "TokenString", "WordString", "Handle", "HitSelLength",
};
// Values the script makes once (see Prelude), then numbers and strings made from the input.
const char* const Values[] = {
    "nil", "true", "false", "0", "-1", "1", "2", "3", "0.5", "-0.0", "2^31", "-2^31-1", "2^32", "2^53", "2^63",
    "-2^63", "1e308", "-1e308", "math.huge", "-math.huge", "0/0", "''", "'\\0'", "'a\\0b'", "('x'):rep(70000)",
    "('\\0'):rep(1000)", "'\\130\\160'", "'\\130'", "'%s%d%%'", "'('", "'a+'", "'%'", "'%zz'", "'\\r\\n'", "bad",
    "fn", "err", "co", "dead", "ed", "rx", "{}", "{1,2,3}", "io.stdout", "Wait", "_G",
};

const char* const Prelude = R"(
local bad = setmetatable({}, {__index = function() error('index') end, __newindex = function() error('newindex') end,
  __tostring = function() error('tostring') end, __len = function() error('len') end,
  __call = function() error('call') end, __concat = function() error('concat') end,
  __eq = function() error('eq') end, __lt = function() error('lt') end, __le = function() error('le') end,
  __add = function() error('add') end, __unm = function() error('unm') end})
local function fn() return 1 end
local function err() error('raised') end
local co = coroutine.create(function(...) coroutine.yield(...) end)
local dead = coroutine.create(fn) coroutine.resume(dead)
local ed = {} pcall(Editor, ed)
local rx = {} pcall(Regex, rx)
)";

// A script argument from the input.
std::string Value(fuzz::Input& in)
{
    const unsigned pick = in.Byte();
    constexpr unsigned fixed = sizeof Values / sizeof Values[0];
    if (pick < fixed) return Values[pick];
    if (pick < fixed + 40) return std::to_string(std::int32_t(in.Number(0xFFFFFFFF)) >> (in.Byte() % 32));
    // A short string of any bytes, written as decimal escapes; no '/' so a file name stays in the
    // scratch folder the run works in.
    std::string text = "'";
    for (const char c : in.Bytes(24)) {
        text += '\\';
        text += std::to_string(c == '/' ? unsigned('_') : unsigned(std::uint8_t(c)));
    }
    return text + "'";
}

std::string Arguments(fuzz::Input& in, std::string first = {})
{
    std::string list = std::move(first);
    for (unsigned n = in.Byte() % 5; n > 0; --n) list += (list.empty() ? "" : ", ") + Value(in);
    return list;
}

// One protected statement per step.
std::string Script(fuzz::Input& in)
{
    std::string script = Prelude;
    for (int step = 0; step < 48 && !in.Empty(); ++step) {
        const unsigned kind = in.Byte() % 8;
        std::string statement;
        if (kind <= 2) {
            const char* fn = Functions[in.Byte() % (sizeof Functions / sizeof Functions[0])];
            statement = "pcall(" + std::string(fn) + (kind == 0 ? "" : ", " + Arguments(in)) + ")";
            if (kind == 0) statement = "pcall(" + std::string(fn) + ", " + Value(in) + ")";
        } else if (kind == 3) {
            const char* m = Methods[in.Byte() % (sizeof Methods / sizeof Methods[0])];
            statement = "pcall(ed." + std::string(m) + ", " + Arguments(in, in.Byte() % 4 == 0 ? Value(in) : "ed") + ")";
        } else if (kind == 4) {
            const char* p = Properties[in.Byte() % (sizeof Properties / sizeof Properties[0])];
            statement = "pcall(function() ed." + std::string(p) + " = " + Value(in) + " end) pcall(function() return ed." + p + " end)";
        } else if (kind == 5) {
            statement = "pcall(rx.Match, " + Arguments(in, "rx") + ")";
        } else if (kind == 6) {
            statement = "_PekNo = " + Value(in);
        } else {
            // Finalizers and coroutines: the ones the run made, called by hand or by the collector.
            switch (in.Byte() % 4) {
            case 0:
                statement = "for _, v in pairs(debug.getregistry()) do local mt = type(v) == 'userdata' and debug.getmetatable(v)"
                            " if mt and type(mt.__gc) == 'function' then pcall(mt.__gc, " + Value(in) + ") end end";
                break;
            case 1: statement = "collectgarbage()"; break;
            case 2: statement = "pcall(coroutine.resume, co, " + Value(in) + ")"; break;
            default:
                statement = "setmetatable({}, {__gc = function() pcall(" +
                            std::string(Functions[in.Byte() % (sizeof Functions / sizeof Functions[0])]) + ", " + Value(in) + ") end})";
            }
        }
        script += statement + "\n";
    }
    return script;
}

struct World {
    World()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_macroapi";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        window = std::make_unique<test::FakeTerminal>(3, 1);
        host = AttachMacroHost(*window);
        script = fuzz::ScratchFile("m.lua");
        // Log and pane files the script names land in the scratch folder.
        FUZZ_CHECK(::chdir(std::filesystem::path(script).parent_path().c_str()) == 0);
    }
    std::unique_ptr<QApplication> app;
    test::RecordingDialogs dialogs;
    ScopedDialogService scope{dialogs};
    std::unique_ptr<test::FakeTerminal> window;
    std::unique_ptr<TMacroHost> host;
    std::string script;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    static World world;
    fuzz::Input in(data, size);
    const std::string text = Script(in);
    {
        std::FILE* f = std::fopen(world.script.c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    const std::uint64_t id = world.host->Run(0, world.script);
    FUZZ_CHECK(id != 0);
    // Its own end, else a stop, else a forced stop: each bounded.
    if (!world.host->WaitIdle(1000)) {
        world.host->Stop(id);
        if (!world.host->WaitIdle(1000)) {
            for (const auto& e : world.host->RunningMacros()) world.host->ForcedStop(e.Id);
            FUZZ_CHECK(world.host->WaitIdle(3000));
        }
    }
    // Runs started by Trans('!...') and whatever they left.
    for (const auto& e : world.host->RunningMacros()) world.host->ForcedStop(e.Id);
    FUZZ_CHECK(world.host->WaitIdle(3000));
    if (std::getenv("PEK_FUZZ_SHOW") != nullptr) {
        std::fprintf(stderr, "%s\n", text.c_str());
        for (const auto& box : world.dialogs.boxes) std::fprintf(stderr, "box: %s\n", box.text.c_str());
    }
    world.dialogs.boxes.clear();
    for (int sheet = 0; sheet < world.window->SheetCount(); ++sheet) world.window->SheetPane(sheet)->SetText("");
    world.window->active = 0;
    return 0;
}
