// Scripted request/response round trips against a device that answers at once, next to the
// ceiling on the same kind of pseudo-terminal: a plain write/read loop. The script sends with
// Trans('@AT') and polls RingBufSrch with Wait(1) until "OK" is there, as device scripts do.
// Pek's own CPU time per trip is printed as well.
//
//   QT_QPA_PLATFORM=offscreen bench_roundtrip [seconds per measurement] [rounds]
#include "bench/common/BenchEvents.h"
#include "bench/common/BenchSupport.h"
#include "bench/common/BenchWindow.h"
#include "bench/terminal/TerminalBench.h"
#include "editor/EditorEx.h"
#include "macro/MacroHost.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using pek::bench::Clock;
using pek::bench::RunUntil;

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The device: answers every "AT\r" with "OK\r\n" at once, until told to stop.
class AnsweringDevice {
public:
    explicit AnsweringDevice(int fd) : fd_(fd)
    {
        thread_ = std::thread([this] {
            std::string seen;
            char buffer[256];
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0) continue;
                const ssize_t n = ::read(fd_, buffer, sizeof buffer);
                if (n <= 0) continue;
                seen.append(buffer, std::size_t(n));
                for (std::size_t at; (at = seen.find("AT\r")) != std::string::npos;) {
                    seen.erase(0, at + 3);
                    [[maybe_unused]] const ssize_t w = ::write(fd_, "OK\r\n", 4);
                }
            }
        });
    }
    ~AnsweringDevice()
    {
        stop_ = true;
        thread_.join();
    }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Trips per second of a plain loop on the terminal end: write the request, read until the answer.
double PlainLoop(double seconds)
{
    pek::bench::Pty pty;
    AnsweringDevice device(pty.master);
    long trips = 0;
    const auto t0 = Clock::now();
    const auto end = t0 + std::chrono::duration<double>(seconds);
    std::string got;
    char buffer[256];
    while (Clock::now() < end) {
        if (::write(pty.slave, "AT\r", 3) != 3) break;
        got.clear();
        while (got.find("OK\r\n") == std::string::npos) {
            const ssize_t n = ::read(pty.slave, buffer, sizeof buffer);
            if (n <= 0) return 0;
            got.append(buffer, std::size_t(n));
        }
        ++trips;
    }
    return double(trips) / std::chrono::duration<double>(Clock::now() - t0).count();
}

struct ScriptedFigures {
    double tripsPerSecond = 0;
    double cpuMsPerTrip = 0;
};

ScriptedFigures Scripted(pek::TPekForm& form, pek::TMacroHost& host, const std::string& scriptPath, double seconds)
{
    pek::TEditorEx* pane = form.SheetPane(0);
    pane->SetText("");
    const double cpu0 = ProcessCpuSeconds();
    host.Run(0, scriptPath);
    // The script prints "#<trips> <ms>" when its time is up.
    const bool done = RunUntil([&] {
        // Answers shown after the result may follow it.
        const std::string text = pane->Text();
        const std::size_t at = text.find('#');
        return at != std::string::npos && text.find('$', at) != std::string::npos;
    },
                               int(seconds * 1000) + 30000);
    const double cpu = ProcessCpuSeconds() - cpu0;
    host.WaitIdle(10000);
    if (!done) {
        std::printf("  the script did not finish\n");
        return {};
    }
    const std::string text = pane->Text();
    long trips = 0;
    double ms = 0;
    std::sscanf(text.c_str() + text.find('#') + 1, "%ld %lf", &trips, &ms);
    return {trips / (ms / 1000.0), trips > 0 ? cpu * 1000.0 / double(trips) : 0};
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    QTemporaryDir dir;
    pek::bench::Pty pty;
    const auto form = pek::bench::OpenWindowOnPty(pty, dir.filePath("pek.ini").toStdString(), 0);
    if (!form) return 1;
    auto host = pek::AttachMacroHost(*form);
    const std::string script = dir.filePath("trips.lua").toStdString();
    std::ofstream(script, std::ios::binary) << "local limit = " << seconds * 1000 << R"(
local p = RingBufPos()
local trips = 0
local t0 = GetTime()
while GetTime() - t0 < limit do
  Trans('@AT')
  local found
  repeat found, p = RingBufSrch(p, 'OK') if found ~= 1 then Wait(1) end until found == 1
  trips = trips + 1
end
io.write(string.format('#%d %.3f$', trips, GetTime() - t0)))";

    std::vector<double> plain, scripted, cpu;
    {
        AnsweringDevice device(pty.master);
        for (int round = 0; round < rounds; ++round) {
            plain.push_back(PlainLoop(seconds));
            const ScriptedFigures figures = Scripted(*form, *host, script, seconds);
            scripted.push_back(figures.tripsPerSecond);
            cpu.push_back(figures.cpuMsPerTrip);
            std::printf("  round %d: plain loop %.0f trips/s, script %.0f trips/s (%.2f ms of Pek's CPU per trip)\n", round + 1,
                        plain.back(), scripted.back(), cpu.back());
        }
    }
    const double p = Median(plain), s = Median(scripted);
    std::printf("round trips, median of %d x %.1f s: plain loop %.0f/s, script Trans + RingBufSrch/Wait(1) %.0f/s "
                "(%.2f%% of the plain loop), %.2f ms of Pek's CPU per trip\n",
                rounds, seconds, p, s, p > 0 ? 100.0 * s / p : 0.0, Median(cpu));
    form->close();
    host.reset();
    return 0;
}
