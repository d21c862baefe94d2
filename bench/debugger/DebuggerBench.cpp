// Debugged runs: a long loop against the bare interpreter, the latency of pause and stop, and the
// views refreshed at a stop with a global table of 100,000 entries. Run offscreen:
//   QT_QPA_PLATFORM=offscreen bench_debugger
#include "debugger/MacroFrm.h"
#include "editor/EditorEx.h"

#include <QAction>
#include <QApplication>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Processor time of this thread: on a loaded machine the wall time also counts the waits for a core.
double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

const char* kLoop = "local s = 0\nfor i = 1, 1000000 do\n  s = s + i\nend\nresult = s\n";

double BareRunMs()
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    const auto t0 = Clock::now();
    luaL_dostring(L, kLoop);
    const auto t1 = Clock::now();
    lua_close(L);
    return Ms(t1 - t0);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    pek::TfrmMacro form(nullptr, nullptr);
    form.show();
    pek::TEditorEx& editor = form.ActiveTab()->Editor();

    // 1. The loop as a thread run executes it (no hook) and as a debugged run, display off.
    double bare = 1e9, debugged = 1e9;
    for (int round = 0; round < 3; ++round) {
        bare = std::min(bare, BareRunMs());
        editor.SetText(kLoop);
        const auto t0 = Clock::now();
        form.Action("acRun")->trigger();
        debugged = std::min(debugged, Ms(Clock::now() - t0));
    }
    std::printf("1,000,000 iterations: bare %.1f ms, debugged %.1f ms (%.1fx)\n", bare, debugged, debugged / bare);

    // 2. Pause and stop latency on an endless loop.
    editor.SetText("local n = 0\nwhile true do\n  n = n + 1\nend\n");
    std::vector<double> pauses, stops;
    for (int round = 0; round < 5; ++round) {
        Clock::time_point pausedAt{}, stoppedAt{}, stopAsked{};
        QTimer::singleShot(50, &form, [&] {
            pausedAt = Clock::now();
            form.Action("acPause")->trigger();
        });
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [&, poll] {
            if (pausedAt == Clock::time_point{} || form.Engine().Executing()) return;
            poll->stop();
            poll->deleteLater();
            stoppedAt = Clock::now();
            form.Action("acRun")->trigger();  // executes again
            QTimer::singleShot(30, &form, [&] {
                stopAsked = Clock::now();
                form.Action("acStop")->trigger();
            });
        });
        poll->start(0);
        form.Action("acRun")->trigger();
        const auto ended = Clock::now();
        pauses.push_back(Ms(stoppedAt - pausedAt));
        stops.push_back(Ms(ended - stopAsked));
    }
    std::sort(pauses.begin(), pauses.end());
    std::sort(stops.begin(), stops.end());
    std::printf("pause until stopped: median %.2f ms, worst %.2f ms (includes the poll that notices)\n", pauses[2],
                pauses[4]);
    std::printf("stop until the run ended: median %.2f ms, worst %.2f ms\n", stops[2], stops[4]);

    // 3. Views at a stop with 100,000 globals, and with one global table of 100,000 entries.
    const char* setups[] = {"for i = 1, 100000 do _G['g' .. i] = i end\n", "big = {}\nfor i = 1, 100000 do big[i] = 'v' .. i end\n",
                            "big = {}\nfor i = 1, 80000 do big[i] = {i} end\n"};
    const char* setupNames[] = {"100,000 globals", "a table of 100,000", "a table of 80,000 tables"};
    for (std::size_t k = 0; k < std::size(setups); ++k) {
        const char* setup = setups[k];
        editor.SetText(std::string(setup) + "local here = 1\n");
        form.Engine().FBreakPoints.Clear();
        form.ToggleBreakPoint(form.ActiveTab()->FileName(), int(std::count(setup, setup + std::strlen(setup), '\n')));
        form.findChild<QTabWidget*>("pgcStack")->setCurrentIndex(1);  // the globals page
        double refresh = 0, refreshCpu = 0;
        QTimer::singleShot(0, &form, [&] {
            auto* poll = new QTimer(&form);
            QObject::connect(poll, &QTimer::timeout, &form, [&, poll] {
                if (form.Engine().Executing() || !form.IsRunning()) return;
                poll->stop();
                poll->deleteLater();
                const auto t0 = Clock::now();
                const double c0 = ThreadCpuMs();
                form.View().RefreshStack();
                form.View().RefreshLocals();
                form.View().RefreshGlobals(true);
                form.View().RefreshWatches();
                QCoreApplication::processEvents();  // the tree paints its visible rows
                refresh = Ms(Clock::now() - t0);
                refreshCpu = ThreadCpuMs() - c0;
                form.Action("acRun")->trigger();
            });
            poll->start(1);
        });
        form.Action("acRun")->trigger();
        std::printf("views at a stop, %s: %.1f ms (processor %.1f ms)\n", setupNames[k], refresh, refreshCpu);
    }

    // 4. The end of a run refreshes the globals view too: 80,000 tables, no stop.
    form.Engine().FBreakPoints.Clear();
    editor.SetText("big = {}\nfor i = 1, 80000 do big[i] = {i} end\n");
    {
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            const auto t0 = Clock::now();
            form.Action("acRun")->trigger();
            best = std::min(best, Ms(Clock::now() - t0));
        }
        std::printf("run ending with 80,000 tables in the globals view: %.1f ms\n", best);
    }

    // 5. Deep recursion: a line event costs the same at any depth.
    for (int depth : {10000, 50000}) {
        const std::string dive = "local function dive(n)\n  if n == 0 then return 0 end\n  return 1 + dive(n - 1)\nend\n"
                                 "for i = 1, 5 do dive(" + std::to_string(depth) + ") end\n";
        double bareDive = 1e9, debuggedDive = 1e9;
        for (int round = 0; round < 3; ++round) {
            lua_State* L = luaL_newstate();
            luaL_openlibs(L);
            const auto t0 = Clock::now();
            luaL_dostring(L, dive.c_str());
            bareDive = std::min(bareDive, Ms(Clock::now() - t0));
            lua_close(L);
            editor.SetText(dive);
            const auto t1 = Clock::now();
            form.Action("acRun")->trigger();
            debuggedDive = std::min(debuggedDive, Ms(Clock::now() - t1));
        }
        std::printf("%d-deep recursion x5: bare %.1f ms, debugged %.1f ms (%.1fx)\n", depth, bareDive, debuggedDive,
                    debuggedDive / bareDive);
    }
    return 0;
}
