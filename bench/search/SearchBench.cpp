// Search and script-editor figures: 100,000 Editor:GetLineString calls from a thread run while
// the window paints and receives (median and 99th percentile per call); reading the Text of a
// 50 MB pane into a script (the longest the main thread is held); Match on a 50 MB subject beside
// the library called directly; F3 that finds nothing in a 50 MB pane, also with the back-tracking
// pattern (a+)+$ (on lines it gives up on, and on lines it does not); stopping a script that keeps
// the library busy.
//
//   QT_QPA_PLATFORM=offscreen bench_search
#include "editor/EditorEx.h"
#include "lua/LuaUtils.h"
#include "macro/FakeTerminal.h"
#include "macro/MacroHost.h"
#include "platform/CodePage.h"
#include "regex/Onig.h"
#include "search/SearchFeature.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QRadioButton>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Microseconds of a steady clock, for scripts timing single calls.
int BenchNow(lua_State* L)
{
    lua_pushnumber(L, std::chrono::duration<double, std::micro>(Clock::now().time_since_epoch()).count());
    return 1;
}

int BenchReport(lua_State* L)
{
    std::printf("%s\n", luaL_checkstring(L, 1));
    std::fflush(stdout);
    return 0;
}

std::string FiftyMegabytesOfLines()
{
    std::string text;
    text.reserve(50u << 20);
    for (int i = 0; text.size() < (50u << 20); ++i) {
        text += "+CSQ: 17,99 line ";
        text += std::to_string(i);
        text += " of the received data, sixty-odd bytes long....\r\n";
    }
    return text;
}

// The longest the main thread went without serving its 1 ms timer while watched.
class MainThreadWatch {
public:
    MainThreadWatch()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        timer_.start(1);
    }
    void Reset()
    {
        last_ = Clock::now();
        longest_ = {};
    }
    double LongestMs() const { return Ms(longest_); }

private:
    QTimer timer_;
    Clock::time_point last_ = Clock::now();
    Clock::duration longest_{};
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show as they come, also into a file
    pek::test::FakeTerminal window(3, 1);
    pek::test::RecordingDialogs dialogs;
    const pek::ScopedDialogService scope(dialogs);
    auto host = pek::AttachMacroHost(window);
    host->AddScriptLibrary([](lua_State* L) {
        pek::LuaRegisterFunction(L, "BenchNow", BenchNow);
        pek::LuaRegisterFunction(L, "BenchReport", BenchReport);
    });
    const auto search = pek::AttachSearch(window);
    const auto run = [&](const std::string& script) {
        const std::string path = window.Dir().file("bench.lua").string();
        pek::test::WriteFileBytes(path, script);
        host->Run(0, path);
        if (!host->WaitIdle(600000)) std::printf("script did not end\n");
        for (const auto& box : dialogs.boxes) std::printf("script error: %s\n", box.text.c_str());
        dialogs.boxes.clear();
    };

    // The window keeps painting and receiving: lines appended to a shown pane, data from the device.
    pek::TEditorEx& shown = *window.SheetPane(0);
    shown.resize(800, 600);
    shown.show();
    QTimer painter;
    int painted = 0;
    QObject::connect(&painter, &QTimer::timeout, [&] { shown.AppendText("received line " + std::to_string(++painted) + "\r\n", true); });
    painter.start(10);
    std::atomic<bool> feeding{true};
    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        while (feeding) {
            window.Device(0).write(std::string(100, 'r'));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        fed = true;
    });

    std::string thousand;
    for (int i = 0; i < 1000; ++i) thousand += "line " + std::to_string(i) + " of some text\r\n";
    window.SheetPane(1)->SetText(thousand);
    run(R"(
local e = Editor{} e.No = 1
local t, n = {}, 100000
local all0 = BenchNow()
for i = 1, n do
  local t0 = BenchNow()
  e:GetLineString(i % 1000)
  t[i] = BenchNow() - t0
end
local all = BenchNow() - all0
table.sort(t)
BenchReport(string.format('GetLineString x %d from a thread run: median %.1f us, p99 %.1f us, mean %.1f us per call',
  n, t[math.floor(n / 2)], t[math.floor(n * 0.99)], all / n))
)");
    std::printf("  (meanwhile %d lines painted)\n", painted);

    const std::string big = FiftyMegabytesOfLines();
    window.SheetPane(1)->SetText(big);
    {
        const auto t0 = Clock::now();
        const std::string copy = window.SheetPane(1)->Text();
        std::printf("  the pane's Text() alone, on the main thread: %.1f ms (%zu bytes)\n", Ms(Clock::now() - t0), copy.size());
    }
    MainThreadWatch watch;
    watch.Reset();
    run(R"(
local e = Editor{} e.No = 1
local t0 = BenchNow()
local s = e.Text
BenchReport(string.format('Text of a %.1f MB pane into a script: %.1f ms in all', #s / 1048576, (BenchNow() - t0) / 1000))
)");
    std::printf("  longest main-thread block meanwhile: %.1f ms\n", watch.LongestMs());

    run(R"(
local s = string.rep('abcdefgh', 50 * 1048576 / 8) .. 'xyz1'
local r = Regex{}
for _, p in ipairs{'xyz[0-9]', 'q+z'} do
  local t0 = BenchNow()
  local found = r:Match(p, s)
  BenchReport(string.format('Match %-9s on 50 MB (%s): %.1f ms', p, tostring(found), (BenchNow() - t0) / 1000))
end
)");
    {
        const std::string subject = [] {
            std::string s;
            s.reserve((50u << 20) + 4);
            for (unsigned i = 0; i < (50u << 20) / 8; ++i) s += "abcdefgh";
            return s + "xyz1";
        }();
        const pek::onig::Library library;
        const auto& a = pek::onig::api();
        for (const char* pattern : {"xyz[0-9]", "q+z"}) {
            const auto t0 = Clock::now();
            const pek::onig::Regex regex = pek::onig::CompileForSearch(pattern, ONIG_OPTION_IGNORECASE | ONIG_OPTION_FIND_NOT_EMPTY, a.OnigSyntaxRuby);
            OnigRegion* region = a.onig_region_new();
            const auto* s = reinterpret_cast<const OnigUChar*>(subject.data());
            const int r = a.onig_search(regex.get(), s, s + subject.size(), s, s + subject.size(), region, ONIG_OPTION_NONE);
            a.onig_region_free(region, 1);
            std::printf("  library directly, %-9s (%s): %.1f ms\n", pattern, r >= 0 ? "true" : "false", Ms(Clock::now() - t0));
        }
    }

    pek::TEditorEx& pane = *window.SheetPane(1);
    pane.SetCaret(0, 0);
    for (const auto& [type, pattern] : {std::pair{pek::TSearchType::Plain, "not there"}, std::pair{pek::TSearchType::Regex, "not[0-9]there"}}) {
        pek::Tsrch_form& form = search->Form();
        form.SrchTypeRG[int(type)]->setChecked(true);
        form.SetFindText(pattern);
        form.OkbtnClick();
        pane.SetCaret(0, 0);
        const auto t0 = Clock::now();
        const bool found = search->Search(&pane, true);
        std::printf("F3 %s pattern, 50 MB pane (%s): %.0f ms\n", type == pek::TSearchType::Plain ? "plain" : "regex",
                    found ? "found" : "not found", Ms(Clock::now() - t0));
    }

    // A back-tracking pattern: on lines it gives up on, and on lines where it merely finds nothing.
    {
        pek::Tsrch_form& form = search->Form();
        form.SrchTypeRG[int(pek::TSearchType::Regex)]->setChecked(true);
        form.SetFindText("(a+)+$");
        form.OkbtnClick();
        std::string hundred;
        for (int i = 0; i < 100; ++i) hundred += std::string(100, 'a') + "b\r\n";
        std::string fifty;
        fifty.reserve((50u << 20) + hundred.size());
        while (fifty.size() < (50u << 20)) fifty += hundred;
        for (const auto& [what, text] : {std::pair{"50 MB of lines a x 100 + b", &std::as_const(fifty)}, std::pair{"the 50 MB pane above", &big}}) {
            pane.SetText(*text);
            pane.SetCaret(0, 0);
            dialogs.boxes.clear();
            const auto t0 = Clock::now();
            const bool found = search->Search(&pane, true);
            std::printf("F3 (a+)+$ on %s (%s%s%s): %.0f ms\n", what, found ? "found" : "not found",
                        dialogs.boxes.empty() ? "" : ", box: ", dialogs.boxes.empty() ? "" : pek::Cp932ToUtf8(dialogs.boxes.back().text).c_str(),
                        Ms(Clock::now() - t0));
        }
    }

    // The longest one Match call holds a run: the back-tracking pattern on 1 MB, a pattern of the
    // largest size allowed.
    run(R"(
local r = Regex{}
local s = string.rep(string.rep('a', 20) .. 'b', 50000)
local p = string.rep('a', 8192)
for _, c in ipairs{{'(a+)+$ on 1 MB', '(a+)+$', s}, {'an 8 KB pattern on 1 MB', p, s}} do
  local longest, why = 0, ''
  for i = 1, 3 do
    local t0 = BenchNow()
    local ok, e = pcall(r.Match, r, c[2], c[3])
    longest = math.max(longest, BenchNow() - t0)
    why = ok and tostring(e) or tostring(e):gsub('^.-:%d+: ', '')
  end
  BenchReport(string.format('Match %s: longest call %.0f ms (%s)', c[1], longest / 1000, why))
end
)");

    // A script that keeps the library busy, its errors swallowed: stopping it (as closing the window
    // does) must not wait for the library.
    {
        const std::string path = window.Dir().file("busy.lua").string();
        pek::test::WriteFileBytes(path, R"(
local r = Regex{}
local s = string.rep(string.rep('a', 20) .. 'b', 50000)
local p = string.rep('a', 8192)
while true do
  pcall(r.Match, r, '(a+)+$', s)
  pcall(r.Match, r, p, s)
end
)");
        host->Run(0, path);
        QEventLoop wait;
        QTimer::singleShot(1500, &wait, &QEventLoop::quit);
        wait.exec();
        const auto t0 = Clock::now();
        const bool ended = host->StopAll(pek::TMacroHost::CloseWaitMs);
        std::printf("Stop of a script looping Match with (a+)+$ on 1 MB and an 8 KB pattern (%s): %.0f ms\n",
                    ended ? "ended" : "still running", Ms(Clock::now() - t0));
    }

    // A write of the feeder may wait for the receiver, which waits for the main thread.
    feeding = false;
    while (!fed) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    feeder.join();
    host->StopAll(5000);
    return 0;
}
