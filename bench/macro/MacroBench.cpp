// Macro engine figures: io.write round trip from a thread run and how soon 10,000 lines are in
// the pane; ring-buffer polls without new data (and that they never go through the main thread);
// receive throughput while a script polls RingBufSrch with Wait(1), against the same flood
// without it; stop and forced-stop latency.
//
// io.write, polls and stops use a small stand-in window that counts the calls made to it (one
// sheet, an offscreen pane, a port on a pseudo-terminal); the flood uses the real main window.
//
//   QT_QPA_PLATFORM=offscreen bench_macro [flood MB]
#include "bench/common/BenchEvents.h"
#include "bench/common/BenchSupport.h"
#include "bench/common/BenchWindow.h"
#include "bench/terminal/TerminalBench.h"
#include "editor/EditorEx.h"
#include "macro/MacroCore.h"
#include "macro/MacroHost.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/TerminalHost.h"
#include "terminal/main_u.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using pek::bench::Clock;
using pek::bench::RunUntil;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

class BenchWindow : public pek::TerminalHost {
public:
    explicit BenchWindow(const std::string& iniPath) : ini_(iniPath)
    {
        pane_.resize(800, 600);
        pane_.show();
        const std::string path = pty_.path;
        port_.SetPortResolver([path](int) { return path; });
        port_.SetFlowCtrl(pek::cfcNone);
        port_.SetBufLenReceive(65536);
        port_.Open();
    }
    ~BenchWindow() override { port_.Close(); }

    int ActiveSheet() const override { return 0; }
    int SheetCount() const override { return 1; }
    pek::TEditorEx* SheetPane(int sheet) const override
    {
        ++mainCalls;
        return sheet == 0 ? const_cast<pek::TEditorEx*>(&pane_) : nullptr;
    }
    pek::TCommXEx* SheetPort(int sheet) const override
    {
        ++mainCalls;
        return sheet == 0 ? const_cast<pek::TCommXEx*>(&port_) : nullptr;
    }
    std::shared_ptr<pek::TCommXEx> SheetPortShared(int sheet) const override
    {
        // The bench's port outlives every run: a view without ownership.
        pek::TCommXEx* port = SheetPort(sheet);
        return port ? std::shared_ptr<pek::TCommXEx>(std::shared_ptr<void>(), port) : nullptr;
    }
    std::string SheetFile(int sheet) const override { return sheet == 0 ? std::string("bench.txt") : std::string(); }
    void LogStateChanged() override {}
    void ShowText(int, std::string_view text, bool) override
    {
        pane_.AppendText(text, true);
        shown.push_back(Clock::now());
    }
    void ExecCommand(int, std::string text, bool) override { port_.SendLine(text); }
    pek::ProfileFile& Ini() override { return ini_; }
    QAction* Action(std::string_view) const override { return nullptr; }
    QWidget* DialogParent() override { return &pane_; }
    void SetMacroRunner(MacroRunner) override {}
    void OnActiveSheetChanged(std::function<void(int)>) override {}
    void OnCommandDone(std::function<void()>) override {}
    void OnClosing(std::function<void()>) override {}
    void OnCloseRequest(std::function<bool()>) override {}
    void OnWindowOpened(std::function<void(TerminalHost&)>) override {}
    pek::TEditorEx* TemplatePane() const override { return nullptr; }
    Options WindowOptions() const override { return {}; }
    void SetWindowOptions(const Options&) override {}
    std::shared_ptr<pek::TCommXEx> AddSheetPort(int sheet) override { return SheetPortShared(sheet); }
    void RemoveSheetPort(int) override {}
    void PortSettingsChanged(int) override {}
    void SaveSheetSettings(int) override {}
    void RunCommandLine(const std::string& text) override { ExecCommand(0, text, true); }

    pek::TEditorEx& Pane() { return pane_; }

    std::vector<Clock::time_point> shown;
    mutable std::atomic<long> mainCalls{0};

private:
    pek::bench::Pty pty_;
    pek::ProfileFile ini_;
    pek::TEditorEx pane_;
    pek::TCommXEx port_;
};

std::string WriteScript(const QTemporaryDir& dir, const std::string& name, const std::string& text)
{
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The device floods `bytes` bytes into the real main window's port sheet (time stamps on, as
// in bench/terminal); returns MB/s as the window's receive handling takes them in.
double WindowFlood(pek::TPekForm& form, int deviceFd, std::uint64_t bytes)
{
    static int round = 0;
    // The flood ends with a marker of its own; it has all been taken in when the marker is the
    // newest data in the ring buffer.
    const std::string marker = "\n#END" + std::to_string(++round) + "#";
    std::string block(4096, 0);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char('A' + i % 26);
    for (std::size_t i = 64; i < block.size(); i += 64) block[i] = '\n';
    pek::TCommXEx* port = form.SheetPort(0);
    bool done = false;
    const auto handler = port->OnReceive;
    port->OnReceive = [&done, &marker, handler, port](pek::TCustomCommX& sender, std::int32_t size) {
        handler(sender, size);
        std::int32_t at = port->RingBuf().Pos() - std::int32_t(marker.size());
        done = done || port->RingBuf().Get(at, std::int32_t(marker.size())) == marker;
    };
    const auto t0 = Clock::now();
    std::thread device([&] {
        const auto put = [&](const char* data, std::size_t size) {
            for (std::size_t sent = 0; sent < size;) {
                pollfd p{deviceFd, POLLOUT, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                const ssize_t w = ::write(deviceFd, data + sent, std::min<std::size_t>(4096, size - sent));
                if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (w <= 0) return;
                sent += std::size_t(w);
            }
        };
        for (std::uint64_t sent = marker.size(); sent < bytes; sent += block.size())
            put(block.data(), std::size_t(std::min<std::uint64_t>(block.size(), bytes - sent)));
        put(marker.data(), marker.size());
    });
    const bool complete = RunUntil([&] { return done; }, 60000);
    const auto t1 = Clock::now();
    device.join();
    port->OnReceive = handler;
    form.SheetPane(0)->SetText("");
    if (!complete) std::printf("  flood incomplete after 60 s\n");
    return pek::bench::MBps(bytes, t1 - t0);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const std::uint64_t floodMB = argc > 1 ? std::uint64_t(std::atoll(argv[1])) : 8;
    QTemporaryDir dir;
    BenchWindow window(dir.filePath("pek.ini").toStdString());
    auto host = pek::AttachMacroHost(window);

    // io.write from a thread run: the time per call as the script sees it, and how soon the
    // lines of a 10,000-line script are all in the (shown) pane.
    {
        const std::string timed = WriteScript(dir, "timed.lua", R"(
local N = 100000
local t0 = GetTime() for i = 1, N do io.write('line ', i, '\r\n') end
local t1 = GetTime()
io.write(string.format('#%.3f', (t1 - t0) * 1000 / N)))");
        host->Run(0, timed);
        host->WaitIdle(120000);
        const std::string text = window.Pane().Text();
        const double perCall = std::atof(text.c_str() + text.rfind('#') + 1);
        window.Pane().SetText("");

        const std::string path = WriteScript(dir, "write.lua", "for i = 1, 10000 do io.write('line ', i, '\\r\\n') end");
        window.shown.clear();
        const auto t0 = Clock::now();
        host->Run(0, path);
        RunUntil([&] { return window.Pane().LineCount() > 10000; });
        QApplication::processEvents();  // the paint
        const auto visible = Clock::now();
        host->WaitIdle(10000);
        std::printf("io.write from a thread run: %.2f us per call (mean of 100,000); 10,000 lines in the pane %.0f ms "
                    "after the run was started (%zu appends to the pane for them)\n",
                    perCall, Ms(visible - t0), window.shown.size());
        window.Pane().SetText("");
    }

    // Polls without new data.
    {
        const std::string path = WriteScript(dir, "poll.lua", R"(
local p = RingBufPos()
local N = 2000000
local t0 = GetTime() for i = 1, N do RingBufDataSize(p) end
local t1 = GetTime() for i = 1, N do RingBufSrch(p, 'NEVER') end
local t2 = GetTime() for i = 1, N do GetTime() end
local t3 = GetTime()
io.write(string.format('%.3f %.3f %.3f', (t1 - t0) * 1000 / N, (t2 - t1) * 1000 / N, (t3 - t2) * 1000 / N)))");
        window.Pane().SetText("");
        const long before = window.mainCalls.load();
        host->Run(0, path);
        host->WaitIdle(120000);
        const long calls = window.mainCalls.load() - before;
        float dataSize = 0, srch = 0, getTime = 0;
        std::sscanf(window.Pane().Text().c_str(), "%f %f %f", &dataSize, &srch, &getTime);
        std::printf("RingBufDataSize %.3f us, RingBufSrch %.3f us per poll (GetTime, the plainest script call: %.3f us);"
                    " window calls in the whole run (4,000,000 polls): %ld\n",
                    dataSize, srch, getTime, calls);
        window.Pane().SetText("");
    }

    // Receive flood into the real window with and without a polling script, alternating, best of five.
    {
        pek::bench::Pty device;
        const auto form = pek::bench::OpenWindowOnPty(device, dir.filePath("window.ini").toStdString(), 1);
        if (!form) return 1;
        auto windowHost = pek::AttachMacroHost(*form);
        const std::string path = WriteScript(dir, "srch.lua", R"(
local p = RingBufPos()
while true do local f f, p = RingBufSrch(p, 'NEVER') Wait(1) end)");
        const std::uint64_t bytes = floodMB * 1000000;
        double plain = 0, polled = 0;
        for (int round = 0; round < 5; ++round) {
            plain = std::max(plain, WindowFlood(*form, device.master, bytes));
            const std::uint64_t id = windowHost->Run(0, path);
            polled = std::max(polled, WindowFlood(*form, device.master, bytes));
            windowHost->Stop(id);
            windowHost->WaitIdle(10000);
        }
        std::printf("receive flood of %llu MB into the window (time stamps on): %.1f MB/s alone, %.1f MB/s while a "
                    "script polls RingBufSrch with Wait(1) (%+.1f%%; best of five each, alternating)\n",
                    static_cast<unsigned long long>(floodMB), plain, polled, 100.0 * (polled - plain) / plain);
        form->close();
    }

    // Stop and forced-stop latency: from the button's call to the worker's end.
    {
        const std::string waitPath = WriteScript(dir, "wait.lua", "io.write('w') Wait(100000)");
        const std::string busyPath = WriteScript(dir, "busy.lua", "io.write('b') while true do pcall(function() while true do end end) end");
        std::vector<double> stop, forced;
        for (int i = 0; i < 20; ++i) {
            window.shown.clear();
            std::uint64_t id = host->Run(0, waitPath);
            RunUntil([&] { return !window.shown.empty(); });
            auto t0 = Clock::now();
            host->Stop(id);
            host->WaitIdle(10000);
            stop.push_back(Ms(Clock::now() - t0));

            window.shown.clear();
            id = host->Run(0, busyPath);
            RunUntil([&] { return !window.shown.empty(); });
            t0 = Clock::now();
            host->ForcedStop(id);
            host->WaitIdle(10000);
            forced.push_back(Ms(Clock::now() - t0));
        }
        std::printf("stop during Wait(100000): median %.2f ms, worst %.2f ms; forced stop of a pcall-swallowing busy loop: "
                    "median %.2f ms, worst %.2f ms (20 each)\n",
                    Median(stop), *std::max_element(stop.begin(), stop.end()), Median(forced),
                    *std::max_element(forced.begin(), forced.end()));
    }
    host.reset();
    return 0;
}
