// Receive flood through the whole terminal window: a device floods a pseudo-terminal, the engine
// reports it, the window shows it with time stamps in an (offscreen) pane and writes a log. The
// figures: bytes per second, the longest time the event loop could not run during the flood, and
// a plain read() loop on a pseudo-terminal in the same run as the ceiling.
//
// Every byte is accounted for: the log is read back afterwards (the text log with its stamps
// taken off again, or the binary log as it stands) and compared with what was sent by count and
// checksum.
//
//   QT_QPA_PLATFORM=offscreen bench_terminal_flood [MB] [--only own|bin|devsim] [--keep] [--split] [--max-lines N]
// (--max-lines 0: a pane without line limit, to compare with the window's default)
#include "bench/common/BenchSupport.h"
#include "bench/common/BenchWindow.h"
#include "bench/terminal/TerminalBench.h"
#include "serial/CommXEx.h"
#include "terminal/main_u.h"
#include "editor/EditorEx.h"

#include <QApplication>
#include <QProcess>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using pek::bench::Clock;
using pek::bench::MakeStream;
using pek::bench::MBps;
using pek::bench::Pty;
using pek::bench::Sum;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The pane's line limit for the runs (-1: the window's own, from the settings file or its default).
long long g_maxLines = -1;

// CPU time of the calling thread: the window's work apart from what other programs take.
double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void WriteAll(int fd, std::string_view data, const std::atomic<bool>& stop)
{
    std::size_t done = 0;
    while (done < data.size() && !stop.load()) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t w = ::write(fd, data.data() + done, std::min<std::size_t>(data.size() - done, 65536));
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            std::perror("write");
            return;
        }
        done += std::size_t(w);
    }
}

// ---- the ceiling ------------------------------------------------------------------------------

struct Ceiling {
    double mbps = 0;
    bool intact = false;
};

Ceiling PlainRead(const std::string& data)
{
    Pty pty;
    const int flags = fcntl(pty.master, F_GETFL);
    fcntl(pty.master, F_SETFL, flags | O_NONBLOCK);
    Sum sent;
    sent.Add(data.data(), data.size());
    Sum got;
    std::atomic<bool> stop{false};
    const auto start = Clock::now();
    std::thread writer([&] { WriteAll(pty.master, data, stop); });
    std::vector<char> buffer(65536);
    while (got.count < data.size()) {
        pollfd p{pty.slave, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;
        const ssize_t n = ::read(pty.slave, buffer.data(), buffer.size());
        if (n <= 0) break;
        got.Add(buffer.data(), std::size_t(n));
    }
    const auto elapsed = Clock::now() - start;
    stop = true;
    writer.join();
    return {MBps(got.count, elapsed), got == sent};
}

// The same loop against the simulated device, whose own pace may be the lower bound.
std::optional<Ceiling> PlainReadDevsim(const QString& devsim, std::uint64_t bytes)
{
    QProcess process;
    process.start(devsim, {"--stream", "--bytes", QString::number(bytes), "--wait", "0", "--timeout", "300"});
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) return std::nullopt;
    const std::string path = process.readLine().trimmed().toStdString();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Sum got;
    std::vector<char> buffer(65536);
    std::optional<Clock::time_point> start;
    while (got.count < bytes) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        if (!start) start = Clock::now();
        got.Add(buffer.data(), std::size_t(n));
    }
    const auto elapsed = Clock::now() - start.value_or(Clock::now());
    ::close(fd);
    process.waitForFinished(5000);
    const std::string report = process.readAllStandardError().toStdString();
    char expect[64];
    std::snprintf(expect, sizeof expect, "checksum %u", got.byteSum);
    const bool intact = got.count == bytes && report.find(expect) != std::string::npos;
    return Ceiling{MBps(got.count, elapsed), intact};
}

// ---- the window -------------------------------------------------------------------------------

enum class Source { OwnPty, Devsim };

struct Flood {
    bool ran = false;
    std::string failure;
    std::uint64_t sent = 0;
    double mbps = 0;
    double elapsedMs = 0;
    double cpuMs = 0;          // the main thread's CPU time during the flood
    double idleMaxGapMs = 0;   // the timer's own jitter before the flood
    double maxGapMs = 0;       // the longest stretch the event loop did not run during the flood
    int gapsOver50 = 0;
    double maxHandlerMs = 0;   // the longest single receive handler call
    double handlerMs = 0;      // all receive handler calls together
    int handlerCalls = 0;
    std::uint64_t logBytes = 0;
    std::uint64_t recovered = 0;  // bytes of received data found in the log
    std::uint64_t stamps = 0;
    std::uint64_t splitStamps = 0;  // stamps put between a CR and its LF
    bool intact = false;
    long long paneLines = 0;
    std::uint64_t expectedLines = 0;
    double paneStoreMB = 0;   // what the pane's text takes
    double residentMB = 0;    // the process, the stream it sends included
    // Split view: paints of each pane during the flood and the shortest time between two of them.
    bool split = false;
    int paints[2] = {0, 0};
    double minPaintGapMs[2] = {1e9, 1e9};
};

// Counts a pane's paints and the shortest gap between two.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* viewport, int& count, double& minGapMs, const bool& active)
        : count_(count), minGapMs_(minGapMs), active_(active)
    {
        viewport->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !active_) return false;
        const auto now = std::chrono::steady_clock::now();
        if (count_++ > 0)
            minGapMs_ = std::min(minGapMs_, std::chrono::duration<double, std::milli>(now - last_).count());
        last_ = now;
        return false;
    }

private:
    int& count_;
    double& minGapMs_;
    const bool& active_;
    std::chrono::steady_clock::time_point last_;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Takes the "<tick>| " stamp off every line start of a text log and counts the stamps. A stamp
// between the CR and the LF of one line break (the break split over two reads) is taken off too
// but counted apart: it is a fault of its own, and the bytes around it are still checked. A
// stamp anywhere else stays in and so spoils the checksum, as it should.
struct Stripped {
    Sum sum;
    std::uint64_t stamps = 0;
    std::uint64_t splitStamps = 0;
};

std::size_t StampEnd(const std::string& log, std::size_t i)
{
    std::size_t j = i;
    while (j < log.size() && log[j] >= '0' && log[j] <= '9') ++j;
    return j > i && j + 1 < log.size() && log[j] == '|' && log[j + 1] == ' ' ? j + 2 : i;
}

Stripped StripStamps(const std::string& log)
{
    Stripped r;
    std::string body;
    body.reserve(log.size());
    bool lineStart = true;
    for (std::size_t i = 0; i < log.size();) {
        if (lineStart) {
            const std::size_t end = StampEnd(log, i);
            if (end != i) ++r.stamps;
            i = end;
            lineStart = false;
            continue;
        }
        const char c = log[i++];
        body += c;
        if (c == '\n') {
            lineStart = true;
        } else if (c == '\r') {
            const std::size_t end = StampEnd(log, i);
            if (end != i && end < log.size() && log[end] == '\n') {
                ++r.splitStamps;
                i = end;
            }
        }
    }
    r.sum.Add(body.data(), body.size());
    return r;
}

std::uint64_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::uint64_t(st.st_size) : 0;
}

Flood RunWindow(Source source, bool binaryLog, bool keep, const std::string& data, std::uint64_t lines, const QString& devsim,
                bool split = false)
{
    Flood r;
    QTemporaryDir dir;
    if (keep) {
        dir.setAutoRemove(false);
        std::printf("(keeping %s)\n", qPrintable(dir.path()));
    }
    const std::string ini = dir.filePath("flood.ini").toStdString();
    const std::string logPath = dir.filePath("flood.log").toStdString();

    std::optional<Pty> pty;
    QProcess process;
    std::string devicePath;
    std::string devsimReport;
    if (source == Source::OwnPty) {
        pty.emplace();
        fcntl(pty->master, F_SETFL, fcntl(pty->master, F_GETFL) | O_NONBLOCK);
        devicePath = pty->path;
    } else {
        process.start(devsim, {"--stream", "--bytes", QString::number(data.size()), "--wait", "1000", "--timeout", "600"});
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) {
            r.failure = "devsim did not start";
            return r;
        }
        devicePath = process.readLine().trimmed().toStdString();
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [&] { devsimReport += process.readAllStandardError().toStdString(); });
    }
    pek::bench::WriteSheetProfile(ini, devicePath, 1);

    pek::TPekForm form(ini);
    pek::TCommXEx* port = pek::bench::ShowBenchWindow(form);
    if (!port) {
        r.failure = "the sheet's port did not open " + devicePath;
        return r;
    }
    if (g_maxLines >= 0) form.SheetPane(0)->Model().Lines().SetMaxLines(g_maxLines);
    port->LogOpen(logPath, true, false, false, binaryLog);
    bool flooding = false;
    std::vector<std::unique_ptr<PaintWatch>> paintWatches;
    if (split) {
        r.split = true;
        form.Action("ViewSplitAct")->trigger();
        auto* splitter = form.findChild<QSplitter*>();
        for (int i = 0; i < 2 && splitter; ++i)
            paintWatches.push_back(std::make_unique<PaintWatch>(static_cast<pek::TEditorEx*>(splitter->widget(i))->viewport(),
                                                                r.paints[i], r.minPaintGapMs[i], flooding));
    }

    // Times every receive report the window handles.
    auto handler = port->OnReceive;
    std::optional<Clock::time_point> firstReceive;
    port->OnReceive = [&r, &firstReceive, handler](pek::TCustomCommX& sender, std::int32_t size) {
        const auto t0 = Clock::now();
        if (!firstReceive) firstReceive = t0;
        handler(sender, size);
        const double ms = Ms(Clock::now() - t0);
        r.maxHandlerMs = std::max(r.maxHandlerMs, ms);
        r.handlerMs += ms;
        ++r.handlerCalls;
    };

    Clock::time_point lastTick = Clock::now();
    double idleMax = 0;
    std::uint64_t logSize = 0;
    Clock::time_point lastGrowth = Clock::now();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    // The flood ends on a tick, so a block that lasted to the end of the flood is measured too.
    std::atomic<bool> written{false};
    bool finished = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const double gap = Ms(now - lastTick);
        lastTick = now;
        if (!flooding) {
            idleMax = std::max(idleMax, gap);
            return;
        }
        r.maxGapMs = std::max(r.maxGapMs, gap);
        if (gap > 50) ++r.gapsOver50;
        const std::uint64_t size = FileSize(logPath);
        if (size != logSize) {
            logSize = size;
            lastGrowth = now;
        }
        const bool sourceDone = pty ? written.load() : devsimReport.find("streamed") != std::string::npos;
        if (sourceDone && port->InQueCount() == 0 && now - lastGrowth > std::chrono::milliseconds(300)) finished = true;
    });
    tick.start();
    const auto settle = [&](int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    settle(300);  // the window's first paint and the timer's own jitter
    r.idleMaxGapMs = idleMax;

    std::atomic<bool> stop{false};
    std::thread writer;
    const auto start = Clock::now();
    lastTick = start;
    lastGrowth = start;
    flooding = true;
    const double cpuStart = ThreadCpuMs();
    if (pty) {
        writer = std::thread([&] {
            WriteAll(pty->master, data, stop);
            written = true;
        });
    }
    const auto giveUp = start + std::chrono::seconds(180);
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (Clock::now() > giveUp) {
            r.failure = "the flood did not end within 180 s";
            break;
        }
    }
    flooding = false;
    r.cpuMs = ThreadCpuMs() - cpuStart;
    stop = true;
    if (writer.joinable()) writer.join();
    tick.stop();
    port->LogClose();

    r.ran = true;
    r.sent = data.size();
    // The simulated device starts on its own after its wait: count from its first bytes.
    const auto from = pty ? start : firstReceive.value_or(start);
    r.elapsedMs = Ms(lastGrowth - from);
    r.mbps = MBps(r.sent, lastGrowth - from);
    r.paneLines = form.SheetPane(0)->Model().Lines().LineCount();
    r.paneStoreMB = double(form.SheetPane(0)->Model().Lines().MemoryUsage()) / 1e6;
    r.residentMB = pek::bench::ResidentMB();
    r.expectedLines = lines;

    const std::string log = ReadFile(logPath);
    r.logBytes = log.size();
    Sum got;
    if (binaryLog) {
        got.Add(log.data(), log.size());
    } else {
        const Stripped stripped = StripStamps(log);
        got = stripped.sum;
        r.stamps = stripped.stamps;
        r.splitStamps = stripped.splitStamps;
    }
    r.recovered = got.count;
    if (pty) {
        Sum sent;
        sent.Add(data.data(), data.size());
        r.intact = got == sent;
    } else {
        char expect[96];
        std::snprintf(expect, sizeof expect, "streamed %llu bytes, checksum %u", static_cast<unsigned long long>(got.count),
                      got.byteSum);
        r.intact = got.count == data.size() && devsimReport.find(expect) != std::string::npos;
        if (!r.intact && r.failure.empty()) r.failure = "devsim said: " + devsimReport;
    }
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        process.waitForFinished(3000);
    }
    return r;
}

void Print(const char* title, const Flood& f, double ceiling, bool textLog)
{
    std::printf("\n%s\n", title);
    if (!f.ran) {
        std::printf("  did not run: %s\n", f.failure.c_str());
        return;
    }
    if (!f.failure.empty()) std::printf("  NOTE: %s\n", f.failure.c_str());
    std::printf("  throughput:                %8.1f MB/s  (%llu bytes in %.0f ms), ratio to the ceiling %.2f\n", f.mbps,
                static_cast<unsigned long long>(f.sent), f.elapsedMs, ceiling > 0 ? f.mbps / ceiling : 0.0);
    std::printf("  main thread CPU time:      %8.0f ms, %.1f MB per CPU second (what an idle machine could reach)\n", f.cpuMs,
                f.cpuMs > 0 ? double(f.sent) / 1e3 / f.cpuMs : 0.0);
    std::printf("  bytes:                     %s  (%llu of %llu found in the log, %llu lost)\n",
                f.intact ? "all there, checksum ok" : "BYTES LOST OR CHANGED", static_cast<unsigned long long>(f.recovered),
                static_cast<unsigned long long>(f.sent),
                static_cast<unsigned long long>(f.sent > f.recovered ? f.sent - f.recovered : 0));
    if (textLog)
        std::printf("  text log:                  %llu bytes, %llu line stamps; %llu stamps%s put between CR and LF\n",
                    static_cast<unsigned long long>(f.logBytes), static_cast<unsigned long long>(f.stamps),
                    static_cast<unsigned long long>(f.splitStamps), f.splitStamps ? " WRONGLY" : "");
    if (f.expectedLines > 0)
        std::printf("  pane:                      %lld lines for %llu lines sent (one more is the open last line)\n",
                    f.paneLines, static_cast<unsigned long long>(f.expectedLines));
    else
        std::printf("  pane:                      %lld lines\n", f.paneLines);
    std::printf("  memory:                    pane text %.1f MB; process resident %.0f MB (the %.0f MB stream sent included)\n",
                f.paneStoreMB, f.residentMB, double(f.sent) / 1e6);
    std::printf("  event loop, longest block: %8.1f ms  (%d blocks over 50 ms; idle timer jitter %.1f ms)\n", f.maxGapMs,
                f.gapsOver50, f.idleMaxGapMs);
    std::printf("  receive handler:           %d calls, longest %.1f ms, %.0f ms in all\n", f.handlerCalls, f.maxHandlerMs,
                f.handlerMs);
    for (int i = 0; i < 2 && f.split; ++i) {
        if (f.paints[i] > 1)
            std::printf("  split, %s pane:          %4d paints, shortest gap %.1f ms\n", i == 0 ? "upper" : "lower",
                        f.paints[i], f.minPaintGapMs[i]);
        else
            std::printf("  split, %s pane:          %4d paints (its rows did not change)\n", i == 0 ? "upper" : "lower",
                        f.paints[i]);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::uint64_t megabytes = 64;
    std::string only;
    bool keep = false;
    bool split = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--keep")
            keep = true;
        else if (arg == "--split")
            split = true;
        else if (arg == "--max-lines" && i + 1 < argc)
            g_maxLines = std::atoll(argv[++i]);
        else if (arg == "--help") {
            std::printf("usage: bench_terminal_flood [MB] [--only own|bin|devsim] [--keep] [--split] [--max-lines N]\n");
            return 0;
        } else
            megabytes = std::strtoull(arg.c_str(), nullptr, 10);
    }
    if (megabytes == 0) megabytes = 64;
#ifdef PEK_DEVSIM_PATH
    const QString devsim = PEK_DEVSIM_PATH;
#else
    const QString devsim;
#endif

    std::uint64_t lines = 0;
    const std::string data = MakeStream(megabytes * 1'000'000ull, &lines);
    std::printf("receive flood through the terminal window, %.1f MB of CR LF lines (ASCII and Shift-JIS), %llu lines\n",
                double(data.size()) / 1e6, static_cast<unsigned long long>(lines));

    const Ceiling ceiling = PlainRead(data);
    std::printf("\nceiling: plain read() loop on a pseudo-terminal pair: %8.1f MB/s  %s\n", ceiling.mbps,
                ceiling.intact ? "all bytes, checksum ok" : "BYTES LOST");

    bool ok = ceiling.intact;
    const auto verdict = [&](const Flood& f) {
        if (!f.ran) return;
        const bool pass = f.intact && f.splitStamps == 0 && f.mbps >= 30 && f.maxGapMs <= 50;
        std::printf("  target (>= 30 MB/s, no byte lost, no block over 50 ms): %s\n", pass ? "met" : "NOT MET");
        ok = ok && f.intact;
    };
    if (only.empty() || only == "own") {
        const Flood f = RunWindow(Source::OwnPty, false, keep, data, lines, devsim);
        Print("window, time stamps on, text log (the headline figure):", f, ceiling.mbps, true);
        verdict(f);
        if (split) {
            const Flood s = RunWindow(Source::OwnPty, false, keep, data, lines, devsim, true);
            Print("the same with the sheet split:", s, ceiling.mbps, true);
            verdict(s);
            if (s.ran && f.ran)
                std::printf("  split / unsplit throughput: %.0f %% (target >= 90 %%); panes repaint at most every 16 ms: %s\n",
                            100 * s.mbps / f.mbps, std::min(s.minPaintGapMs[0], s.minPaintGapMs[1]) >= 15.0 ? "yes" : "NO");
        }
    }
    if (only.empty() || only == "bin") {
        const Flood f = RunWindow(Source::OwnPty, true, keep, data, lines, devsim);
        Print("window, time stamps on, binary log (byte-exact check of the log):", f, ceiling.mbps, false);
        verdict(f);
    }
    if ((only.empty() || only == "devsim") && !devsim.isEmpty()) {
        const std::optional<Ceiling> devCeiling = PlainReadDevsim(devsim, data.size());
        if (devCeiling)
            std::printf("\nceiling with devsim as the device: plain read() loop: %8.1f MB/s  %s\n", devCeiling->mbps,
                        devCeiling->intact ? "all bytes, checksum ok" : "BYTES LOST");
        std::uint64_t devLines = 0;
        const Flood f = RunWindow(Source::Devsim, false, keep, data, devLines, devsim);
        Print("window fed by devsim --stream, time stamps on, text log:", f, devCeiling ? devCeiling->mbps : 0.0, true);
        verdict(f);
    }
    return ok ? 0 : 1;
}
