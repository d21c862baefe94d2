// Script GUI benchmarks: the binary grid on a 100 MB buffer (load, memory, Ctrl+End with a paint,
// a digit typed at offset 0), the CPU a thread run costs while it waits in GuiInput, and whether
// GuiMemoPuts slows down as the memo fills.
#include "macro/MacroHost.h"
#include "platform/Profile.h"
#include "scriptgui/GuiLuaApi.h"
#include "scriptgui/GuiLua_u.h"
#include "scriptgui/MxBinEditor.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long RssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Press(QWidget& target, int key, Qt::KeyboardModifiers mods, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&target, &press);
}

template <typename F>
bool ServeUntil(F done, int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void GridBench()
{
    constexpr std::int64_t Size = 100'000'000;
    std::vector<char> buffer(Size);
    for (std::int64_t i = 0; i < Size; ++i) buffer[std::size_t(i)] = char(i * 7 + (i >> 12));
    pek::TMxBinEditor grid;
    grid.resize(900, 600);
    grid.show();
    QApplication::processEvents();
    const long rssBefore = RssKb();
    auto t = Clock::now();
    grid.LoadFromMemory(buffer.data(), Size);
    const double load = Ms(Clock::now() - t);
    const long rssAfter = RssKb();
    grid.setFocus();
    // Medians of seven rounds: the machine is shared.
    std::vector<double> ends, digits;
    for (int round = 0; round < 7; ++round) {
        t = Clock::now();
        Press(grid, Qt::Key_End, Qt::ControlModifier);
        grid.viewport()->repaint();
        ends.push_back(Ms(Clock::now() - t));
        Press(grid, Qt::Key_Home, Qt::ControlModifier);
        grid.viewport()->repaint();
        t = Clock::now();
        Press(grid, Qt::Key_5, Qt::NoModifier, "5");
        grid.viewport()->repaint();
        digits.push_back(Ms(Clock::now() - t));
    }
    const double end = Median(ends), digit = Median(digits);
    grid.SetInsertMode(true);
    Press(grid, Qt::Key_Home, Qt::ControlModifier);  // the second digit is no longer pending
    t = Clock::now();
    Press(grid, Qt::Key_7, Qt::NoModifier, "7");
    grid.viewport()->repaint();
    const double inserted = Ms(Clock::now() - t);
    // The inserted byte reaches the file when the window moves away: the whole tail moves once.
    t = Clock::now();
    Press(grid, Qt::Key_End, Qt::ControlModifier);
    grid.viewport()->repaint();
    const double flush = Ms(Clock::now() - t);
    const std::string tail = grid.Model().Document().Read(Size - 1, 2);
    if (grid.FileSize() != Size + 1 || tail.size() != 2 || tail[1] != buffer[Size - 1]) std::printf("the content went wrong\n");
    std::printf("grid, 100 MB: load %.0f ms (resident memory %+ld KB); Ctrl+End and one paint %.2f ms; a digit typed "
                "at offset 0 %.2f ms (medians of 7) (inserted %.2f ms); Ctrl+End after that insertion, moving the 100 MB tail once %.0f ms\n",
                load, rssAfter - rssBefore, end, digit, inserted, flush);
}

std::string WriteScript(const QTemporaryDir& dir, const char* name, const std::string& text)
{
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

void PanelBench()
{
    QTemporaryDir dir;
    pek::TPekForm form(dir.filePath("pek.ini").toStdString());
    form.show();
    form.LoadSheets();
    auto host = pek::AttachMacroHost(form);
    auto gui = pek::AttachScriptGui(form, *host);

    // The same window and panel without a waiting script, for comparison.
    host->Run(0, WriteScript(dir, "show.lua", "GuiClear() GuiStr('a', 'b')"));
    host->WaitIdle(10000);
    double base = CpuSeconds();
    {
        QEventLoop idle;
        QTimer::singleShot(10000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    base = CpuSeconds() - base;
    host->Run(0, WriteScript(dir, "wait.lua", "GuiClear() GuiStr('a', 'b') GuiInput()"));
    if (!ServeUntil([&] { return gui->FormIfAny() && gui->FormIfAny()->Waiting(); }, 10000)) {
        std::printf("the script did not start waiting\n");
        return;
    }
    const double cpu0 = CpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(10000, &idle, &QEventLoop::quit);
    idle.exec();
    const double cpu = CpuSeconds() - cpu0;
    gui->FormIfAny()->OkPnlBtn()->click();
    host->WaitIdle(10000);
    std::printf("CPU of the whole program while a thread run waits 10 s in GuiInput: %.3f s (%.3f s in 10 s with the "
                "same panel and no script)\n", cpu, base);

    const std::string out = dir.filePath("memo.txt").toStdString();
    host->Run(0, WriteScript(dir, "memo.lua", R"(
        GuiClear()
        local m = GuiMemo(16, 10)
        local times, cpu = {}, {}
        local t, c = GetTime(), os.clock()
        for i = 1, 10000 do
            GuiMemoPuts(m, "line " .. i .. " of the memo bench\r\n")
            if i % 1000 == 0 then
                local now, nowc = GetTime(), os.clock()
                times[#times + 1] = now - t
                cpu[#cpu + 1] = math.floor((nowc - c) * 1000)
                t, c = now, nowc
            end
        end
        for _, v in ipairs(cpu) do times[#times + 1] = v end
        local f = io.open([[)" + out + R"(]], "w") f:write(table.concat(times, " ")) f:close()
    )"));
    host->WaitIdle(120000);
    std::ifstream in(out);
    std::vector<double> times;
    for (double v; in >> v;) times.push_back(v);
    if (times.size() == 20) {
        // Wall time per thousand, and the CPU time of the whole program per thousand (less noisy
        // on a shared machine).
        std::string wall, cpu;
        for (int i = 0; i < 10; ++i) {
            wall += " " + std::to_string(int(times[std::size_t(i)]));
            cpu += " " + std::to_string(int(times[std::size_t(i + 10)]));
        }
        std::printf("10,000 GuiMemoPuts: first thousand %.0f ms, last thousand %.0f ms (ratio %.2f; wall ms per thousand:%s;"
                    " CPU ms per thousand:%s, ratio last/first %.2f)\n",
                    times[0], times[9], times[9] / std::max(1.0, times[0]), wall.c_str(), cpu.c_str(),
                    times[19] / std::max(1.0, times[10]));
    }
    else
        std::printf("the memo script did not finish\n");
    gui.reset();
    host.reset();
    form.close();
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    pek::UseCNumericLocale();
    const bool panelOnly = argc > 1 && std::string(argv[1]) == "--panel";
    if (!panelOnly) GridBench();
    PanelBench();
    return 0;
}
