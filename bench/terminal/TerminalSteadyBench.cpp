// A device talking at a steady rate to the terminal window: what the window costs per second of
// received data. Another process (this program started with --feed) owns a pseudo-terminal and
// writes CR LF lines to it at the rate, in pieces every piece-ms; the window opens the other end as
// its port, with time stamps off and on. The figures: CPU time of this process (every thread:
// the window and the port's receive thread) as a share of one core while the data comes, the main
// thread's share, the pane's repaints per second and the painted share of the pane, and, on a real
// display, the X server's CPU time meanwhile, and (time stamps off) how long after each write the
// pane painted its last byte: median/99th percentile/longest. Afterwards the pane must hold every
// byte sent.
//
// With --xterm the same feeder drives picocom inside an 80x40 xterm on the same display, for
// comparison (CPU of xterm and picocom together, and of the X server). The lines mix ASCII and
// Shift-JIS characters; with --text ascii they are plain ASCII (xterm shows Shift-JIS bytes as
// other characters, so only that text is drawn alike by both). --no-cell-copies has the pane draw
// every glyph anew instead of copying finished cells.
//
//   bench_terminal_steady [--seconds S] [--rates 10,100,1000] [--stamps off|on|both] [--piece-ms M]
//                         [--preload MB] [--real] [--xterm] [--idle S] [--text mixed|ascii] [--no-cell-copies]
//                         [--cells CxR] [--cutecom]
//   (--cells sizes the window so that the pane shows C columns and R rows, e.g. 80x40 as the xterm;
//   otherwise the window is 1000x700; --cutecom measures CuteCom too, opened on the port with
//   xdotool: apt-get install cutecom xdotool)
//   (--real and --xterm need a display, e.g. under xvfb-run -a; otherwise the window is offscreen)
#include "bench/common/BenchSupport.h"
#include "bench/common/BenchWindow.h"
#include "bench/terminal/TerminalBench.h"
#include "editor/EditorEx.h"
#include "serial/CommXEx.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QEvent>
#include <QEventLoop>
#include <QPaintEvent>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pek::bench::Clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- the feeder process -------------------------------------------------------------------------

// Writes the stream for rate bytes per second (in pieces every pieceMs), paced against the clock
// so a late piece is made up by the next.
std::uint64_t Feed(int master, const std::string& data, double rate, int pieceMs, std::vector<std::pair<std::int64_t, std::uint64_t>>& written)
{
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const auto start = Clock::now();
    std::uint64_t sent = 0;
    while (sent < data.size()) {
        next.tv_nsec += long(pieceMs) * 1'000'000L;
        while (next.tv_nsec >= 1'000'000'000L) {
            next.tv_nsec -= 1'000'000'000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        const auto due = std::min<std::uint64_t>(data.size(), std::uint64_t(rate * Seconds(Clock::now() - start)));
        while (sent < due) {
            const ssize_t w = ::write(master, data.data() + sent, due - sent);
            if (w < 0) {
                if (errno == EINTR) continue;
                if (errno != EAGAIN) return sent;
                pollfd p{master, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            sent += std::uint64_t(w);
            written.emplace_back(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(), sent);
        }
    }
    return sent;
}

// Prints the port path, then on "go RATE SECONDS PIECEMS" feeds and answers "fed BYTES". Keeps
// the pseudo-terminal until its input ends, so the reader is not cut off before it has read all.
int FeederMain()
{
    pek::bench::Pty pty;
    std::printf("%s\n", pty.path.c_str());
    std::fflush(stdout);
    std::string command;
    while (std::getline(std::cin, command)) {
        std::istringstream in(command);
        std::string word;
        double rate = 0, seconds = 0;
        int pieceMs = 1;
        int ascii = 0;
        in >> word >> rate >> seconds >> pieceMs >> ascii;
        if (word != "go" || rate <= 0) continue;
        std::uint64_t lines = 0;
        const std::string data = pek::bench::MakeStream(std::uint64_t(rate * seconds), &lines, ascii != 0);
        std::vector<std::pair<std::int64_t, std::uint64_t>> written;
        const std::uint64_t sent = Feed(pty.master, data, rate, std::max(1, pieceMs), written);
        // The moment each write ended and the bytes sent by then, for the arrival-to-screen delay.
        std::printf("written");
        for (const auto& [at, bytes] : written) std::printf(" %lld:%llu", static_cast<long long>(at), static_cast<unsigned long long>(bytes));
        std::printf("\nfed %llu\n", static_cast<unsigned long long>(sent));
        std::fflush(stdout);
    }
    return 0;
}

// ---- CPU time -----------------------------------------------------------------------------------

double ProcessCpuS()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuS()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Fields of /proc/PID/stat after the command name: state is [0], ppid [1], utime [11], stime [12].
std::vector<std::string> StatFields(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream rest(line.substr(close + 2));
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields;
}

std::string Comm(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

double OtherProcessCpuS(long pid)
{
    const std::vector<std::string> f = StatFields(pid);
    if (f.size() < 13) return 0;
    return double(std::stoll(f[11]) + std::stoll(f[12])) / double(sysconf(_SC_CLK_TCK));
}

// Processes named name, optionally only children of parent.
std::vector<long> FindProcesses(const std::string& name, long parent = 0)
{
    std::vector<long> found;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        bool number = false;
        const long pid = e.toLong(&number);
        if (!number || Comm(pid) != name) continue;
        if (parent != 0) {
            const std::vector<std::string> f = StatFields(pid);
            if (f.size() < 2 || std::stol(f[1]) != parent) continue;
        }
        found.push_back(pid);
    }
    return found;
}

// The X server of this display, when it is an Xvfb on this machine.
long FindXServer()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) return 0;
    for (const long pid : FindProcesses("Xvfb")) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
        std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(args.begin(), args.end(), '\0', ' ');
        if ((args + " ").find(display.toStdString() + " ") != std::string::npos) return pid;
    }
    return 0;
}

// ---- one run ------------------------------------------------------------------------------------

struct Feeder {
    QProcess process;
    std::string path;
    std::vector<std::pair<std::int64_t, std::uint64_t>> written;  // steady-clock ns, bytes sent by then
    template <typename R>
    bool Start(R& result)
    {
        process.start(QCoreApplication::applicationFilePath(), {"--feed"});
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000)) path = process.readLine().trimmed().toStdString();
        if (path.empty()) result.failure = "the feeder did not start";
        return !path.empty();
    }
    void Go(double rate, double seconds, int pieceMs, bool ascii)
    {
        process.write(QStringLiteral("go %1 %2 %3 %4\n").arg(rate).arg(seconds).arg(pieceMs).arg(ascii ? 1 : 0).toUtf8());
    }
    // Serves events until the feeder has sent everything; its byte count, or nothing on failure.
    std::optional<std::uint64_t> WaitFed(double timeoutS)
    {
        std::optional<std::uint64_t> fed;
        QEventLoop loop;
        const auto read = [&] {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith("fed ")) fed = line.mid(4).toULongLong();
                if (line.startsWith("written")) {
                    written.clear();
                    for (const QByteArray& item : line.mid(7).trimmed().split(' ')) {
                        const qsizetype colon = item.indexOf(':');
                        if (colon > 0) written.emplace_back(item.left(colon).toLongLong(), item.mid(colon + 1).toULongLong());
                    }
                }
            }
            if (fed) loop.quit();
        };
        const auto connection = QObject::connect(&process, &QProcess::readyReadStandardOutput, read);
        QTimer::singleShot(int(timeoutS * 1000), &loop, &QEventLoop::quit);
        read();
        if (!fed) loop.exec();
        QObject::disconnect(connection);
        return fed;
    }
    ~Feeder()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(5000)) process.kill();
    }
};

// Serves events for ms, sleeping while there are none.
void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts the pane's paint events and the share of the pane they cover.
class PaintCounter : public QObject {
public:
    int paints = 0;
    double covered = 0;  // in whole panes
    // With a pane: at each paint, the moment and the bytes the pane holds.
    const pek::TEditorModel* model = nullptr;
    std::vector<std::pair<std::int64_t, std::uint64_t>> shown;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const auto* w = static_cast<QWidget*>(watched);
            const double area = double(w->width()) * w->height();
            double painted = 0;
            for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) painted += double(r.width()) * r.height();
            ++paints;
            if (area > 0) covered += painted / area;
            if (model)
                shown.emplace_back(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(),
                                   std::uint64_t(model->Lines().TextLength()));
        }
        return false;
    }
};

struct Result {
    std::string failure;
    double seconds = 0;
    double cpu = 0;         // share of one core, every thread of the measured processes
    double mainThread = 0;  // share of one core
    double paintsPerS = 0;
    double paneShare = 0;   // painted share of the pane per paint
    double barPaintsPerS = 0;
    double server = -1;     // X server's share of one core; -1 without one
    double delayMedianMs = -1, delayP99Ms = -1, delayMaxMs = -1;  // from a write to the paint that shows it
    bool intact = false;
    std::string check;
    QSize paneCells, panePixels;
};

// Whole cells the pane shows, columns by rows.
QSize CellsShown(pek::TEditorEx& pane)
{
    return {pane.viewport()->width() / pane.CellWidth(), pane.viewport()->height() / pane.CellHeight()};
}

// Resizes the window so that the pane shows cols x rows cells, as a terminal of that size would.
void FitPaneToCells(pek::TPekForm& form, pek::TEditorEx& pane, QSize cells)
{
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::processEvents();
        const QSize shown = CellsShown(pane);
        if (shown == cells) return;
        form.resize(form.width() + (cells.width() - shown.width()) * pane.CellWidth(),
                    form.height() + (cells.height() - shown.height()) * pane.CellHeight());
    }
}

Result RunPek(double rate, bool stamps, double seconds, int pieceMs, bool ascii, bool cellCopies, std::uint64_t preloadBytes, long server, double idleS,
             Result* idle, QSize cells)
{
    Result r;
    Feeder feeder;
    if (!feeder.Start(r)) return r;
    QTemporaryDir dir;
    const std::string ini = dir.filePath("steady.ini").toStdString();
    pek::bench::WriteSheetProfile(ini, feeder.path, stamps ? 1 : 0);
    pek::TPekForm form(ini);
    pek::TCommXEx* port = pek::bench::ShowBenchWindow(form);
    pek::TEditorEx* pane = port ? form.SheetPane(0) : nullptr;
    if (!port || !pane) {
        r.failure = "the sheet's port did not open " + feeder.path;
        return r;
    }
    if (!cellCopies) pane->SetCellCopyBudget(0);
    if (!cells.isEmpty()) FitPaneToCells(form, *pane, cells);
    r.paneCells = CellsShown(*pane);
    r.panePixels = pane->viewport()->size();
    // The user has clicked into the pane: its caret blinks.
    form.activateWindow();
    pane->setFocus();
    if (preloadBytes > 0) {
        // A pane that has been receiving for a while already.
        std::uint64_t lines = 0;
        pane->Model().AppendText(pek::bench::MakeStream(preloadBytes, &lines), true);
        pane->Model().ScrollToEnd();
    }
    PaintCounter counter, bars;
    pane->viewport()->installEventFilter(&counter);
    pane->verticalScrollBar()->installEventFilter(&bars);
    pane->horizontalScrollBar()->installEventFilter(&bars);
    Settle(500);

    const auto measure = [&](Result& m, const auto& during) {
        counter.paints = 0;
        counter.covered = 0;
        bars.paints = 0;
        const double cpu0 = ProcessCpuS(), main0 = ThreadCpuS(), server0 = server ? OtherProcessCpuS(server) : 0;
        const auto t0 = Clock::now();
        during();
        m.seconds = Seconds(Clock::now() - t0);
        m.cpu = (ProcessCpuS() - cpu0) / m.seconds;
        m.mainThread = (ThreadCpuS() - main0) / m.seconds;
        m.server = server ? (OtherProcessCpuS(server) - server0) / m.seconds : -1;
        m.paintsPerS = counter.paints / m.seconds;
        m.paneShare = counter.paints ? counter.covered / counter.paints : 0;
        m.barPaintsPerS = bars.paints / m.seconds;
    };
    if (idle) measure(*idle, [&] { Settle(int(idleS * 1000)); });

    std::optional<std::uint64_t> fed;
    const auto base = std::uint64_t(pane->Model().Lines().TextLength());
    if (!stamps) counter.model = &pane->Model();
    measure(r, [&] {
        feeder.Go(rate, seconds, pieceMs, ascii);
        fed = feeder.WaitFed(seconds * 3 + 30);
    });
    if (!fed) {
        r.failure = "the feeder did not finish";
        return r;
    }
    Settle(300);
    counter.model = nullptr;
    if (!stamps) {
        // Each write against the first paint after it that shows its last byte.
        std::vector<double> delays;
        std::size_t p = 0;
        for (const auto& [at, bytes] : feeder.written) {
            while (p < counter.shown.size() && (counter.shown[p].first < at || counter.shown[p].second - base < bytes)) ++p;
            if (p == counter.shown.size()) break;
            delays.push_back(double(counter.shown[p].first - at) / 1e6);
        }
        if (!delays.empty() && delays.size() == feeder.written.size()) {
            std::sort(delays.begin(), delays.end());
            r.delayMedianMs = delays[delays.size() / 2];
            r.delayP99Ms = delays[delays.size() * 99 / 100];
            r.delayMaxMs = delays.back();
        }
    }
    std::uint64_t lines = 0;
    std::string sent = pek::bench::MakeStream(std::uint64_t(rate * seconds), &lines, ascii);
    const std::uint64_t fedSize = sent.size();
    if (preloadBytes > 0) {
        std::uint64_t preloaded = 0;
        sent = pek::bench::MakeStream(preloadBytes, &preloaded) + sent;
        lines += preloaded;
    }
    const pek::TEditorModel& model = pane->Model();
    const long long paneLines = model.Lines().LineCount();
    if (*fed != fedSize) {
        r.check = "the feeder sent " + std::to_string(*fed) + " of " + std::to_string(fedSize) + " bytes";
    } else if (stamps) {
        r.intact = paneLines == static_cast<long long>(lines) + 1 && model.Lines().TextLength() > static_cast<long long>(sent.size());
        r.check = std::to_string(paneLines) + " lines for " + std::to_string(lines);
    } else {
        r.intact = model.Text() == sent;
        r.check = r.intact ? "pane text equals what was sent" : "PANE TEXT DIFFERS from what was sent";
    }
    return r;
}

// What a peer terminal is measured under: the feed and the X server to count beside it.
struct PeerRun {
    double rate, seconds;
    int pieceMs;
    bool ascii;
    long server;
};

// Feeds a peer terminal that has its port open and counts its CPU (cpuOf: its processes' CPU
// seconds) and the X server's while the data comes; what it shows is not checked.
void MeasurePeer(Result& r, Feeder& feeder, const PeerRun& run, const char* name, const std::function<double()>& cpuOf)
{
    Settle(1000);
    const double cpu0 = cpuOf(), server0 = run.server ? OtherProcessCpuS(run.server) : 0;
    const auto t0 = Clock::now();
    feeder.Go(run.rate, run.seconds, run.pieceMs, run.ascii);
    const std::optional<std::uint64_t> fed = feeder.WaitFed(run.seconds * 3 + 30);
    r.seconds = Seconds(Clock::now() - t0);
    r.cpu = (cpuOf() - cpu0) / r.seconds;
    r.server = run.server ? (OtherProcessCpuS(run.server) - server0) / r.seconds : -1;
    r.mainThread = -1;
    r.intact = fed.has_value();
    if (!fed) {
        r.check = "the feeder did not finish";
        return;
    }
    r.check = "fed " + std::to_string(*fed) + " bytes (what ";
    r.check.append(name).append(" shows is not checked)");
}

void EndProcess(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(3000)) process.kill();
}

Result RunXterm(double rate, double seconds, int pieceMs, bool ascii, long server)
{
    Result r;
    Feeder feeder;
    if (!feeder.Start(r)) return r;
    QProcess xterm;
    xterm.start("xterm", {"-geometry", "80x40", "-e", "picocom", "-q", "-b", "115200", QString::fromStdString(feeder.path)});
    if (!xterm.waitForStarted(5000)) {
        r.failure = "xterm did not start";
        return r;
    }
    const long xtermPid = long(xterm.processId());
    std::vector<long> picocom;
    for (int i = 0; i < 50 && picocom.empty(); ++i) {
        Settle(100);
        picocom = FindProcesses("picocom", xtermPid);
    }
    if (picocom.empty()) {
        r.failure = "picocom did not start inside xterm";
        return r;
    }
    MeasurePeer(r, feeder, {rate, seconds, pieceMs, ascii, server}, "xterm",
                [&] { return OtherProcessCpuS(xtermPid) + OtherProcessCpuS(picocom.front()); });
    EndProcess(xterm);
    return r;
}

// CuteCom on the feeder's port. It opens a port only from its window, so its settings (in a
// scratch folder) name the device and xdotool presses Open; the port counts as opened once the
// process holds the device.
Result RunCuteCom(double rate, double seconds, int pieceMs, bool ascii, long server)
{
    Result r;
    Feeder feeder;
    if (!feeder.Start(r)) return r;
    QTemporaryDir config;
    QDir(config.path()).mkpath("CuteCom");
    {
        std::ofstream conf(config.filePath("CuteCom/CuteCom5.conf").toStdString());
        conf << "[sessions]\n1\\BaudRate=115200\n1\\DataBits=8\n1\\Device=" << feeder.path
             << "\n1\\FlowControl=0\n1\\OpenMode=3\n1\\Parity=0\n1\\StopBits=1\n1\\name=Default\nsize=1\n";
    }
    QProcess cutecom;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.remove("QT_QPA_PLATFORM");
    cutecom.setProcessEnvironment(env);
    cutecom.start("cutecom", {});
    if (!cutecom.waitForStarted(5000)) {
        r.failure = "cutecom did not start (apt-get install cutecom xdotool)";
        return r;
    }
    const long pid = long(cutecom.processId());
    const auto holdsDevice = [&] {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget().toStdString() == feeder.path) return true;
        return false;
    };
    // Without a window manager its window sits at the origin, its Open button near the top left.
    const auto pressOpen = [] { QProcess::execute("xdotool", {"mousemove", "50", "43", "click", "1"}); };
    for (int i = 0; i < 25 && !holdsDevice(); ++i) {
        Settle(400);
        if (i % 5 == 4) pressOpen();
    }
    if (!holdsDevice()) {
        r.failure = "CuteCom did not open " + feeder.path;
        EndProcess(cutecom);
        return r;
    }
    MeasurePeer(r, feeder, {rate, seconds, pieceMs, ascii, server}, "CuteCom", [&] { return OtherProcessCpuS(pid); });
    EndProcess(cutecom);
    // It leaves its lock file behind when ended (its error box about a pseudo-terminal's
    // missing serial settings covers the Close button): taken away when it names CuteCom.
    std::string lockName = feeder.path.substr(std::string("/dev/").size());
    std::replace(lockName.begin(), lockName.end(), '/', '_');
    const std::string lock = "/run/lock/LCK.." + lockName;
    long owner = 0;
    if (std::ifstream in(lock); in >> owner && owner == pid) std::remove(lock.c_str());
    return r;
}

void PrintRow(const char* what, double rate, const Result& r)
{
    if (!r.failure.empty()) {
        std::printf("  %-26s %6.0f KB/s  did not run: %s\n", what, rate / 1e3, r.failure.c_str());
        return;
    }
    std::printf("  %-26s %6.0f KB/s  %6.1f %%", what, rate / 1e3, r.cpu * 100);
    if (r.mainThread >= 0)
        std::printf("  main %5.1f %%  %5.1f paints/s (%3.0f %% of the pane), scroll bars %5.1f/s", r.mainThread * 100, r.paintsPerS,
                    r.paneShare * 100, r.barPaintsPerS);
    else std::printf("  %71s", "");
    if (r.server >= 0) std::printf("  X server %5.1f %%", r.server * 100);
    if (r.delayMedianMs >= 0) std::printf("  to screen %.1f/%.1f/%.1f ms", r.delayMedianMs, r.delayP99Ms, r.delayMaxMs);
    std::printf("  %s\n", r.check.c_str());
    std::fflush(stdout);
}

std::vector<double> ParseRates(const std::string& s)
{
    std::vector<double> rates;
    std::istringstream in(s);
    for (std::string item; std::getline(in, item, ',');)
        if (const double kb = std::atof(item.c_str()); kb > 0) rates.push_back(kb * 1e3);
    return rates;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--feed") == 0) return FeederMain();

    double seconds = 10;
    double idleS = 3;
    int pieceMs = 1;
    std::uint64_t preloadMB = 0;
    std::string rates = "10,100,1000";
    std::string stamps = "both";
    bool ascii = false;
    bool cellCopies = true;
    bool real = false;
    bool xterm = false;
    bool cuteCom = false;
    QSize cells;
    int cols = 0, rows = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--seconds" && more) seconds = std::atof(argv[++i]);
        else if (arg == "--idle" && more) idleS = std::atof(argv[++i]);
        else if (arg == "--piece-ms" && more) pieceMs = std::atoi(argv[++i]);
        else if (arg == "--preload" && more) preloadMB = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--rates" && more) rates = argv[++i];
        else if (arg == "--stamps" && more) stamps = argv[++i];
        else if (arg == "--text" && more) ascii = std::string(argv[++i]) == "ascii";
        else if (arg == "--real") real = true;
        else if (arg == "--xterm") xterm = true;
        else if (arg == "--cutecom") cuteCom = true;
        else if (arg == "--no-cell-copies") cellCopies = false;
        else if (arg == "--cells" && more && std::sscanf(argv[++i], "%dx%d", &cols, &rows) == 2) cells = QSize(cols, rows);
        else {
            std::printf("usage: bench_terminal_steady [--seconds S] [--rates 10,100,1000] [--stamps off|on|both] "
                        "[--piece-ms M] [--preload MB] [--real] [--xterm] [--idle S] [--text mixed|ascii] [--no-cell-copies] [--cells CxR] [--cutecom]\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (!real) qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("--real needs a display (run under xvfb-run -a)\n");
        return 2;
    }
    QApplication app(argc, argv);
    const long server = real || xterm || cuteCom ? FindXServer() : 0;

    std::printf("steady receive, %s text, %.0f s per rate, pieces every %d ms, %s window (%s)%s%s\n", ascii ? "ASCII" : "mixed", seconds, pieceMs,
                real ? "real" : "offscreen", qPrintable(QGuiApplication::platformName()),
                server ? ", X server CPU from /proc" : "",
                preloadMB ? qPrintable(QStringLiteral(", the pane holding %1 MB already").arg(preloadMB)) : "");
    std::printf("  CPU: this process, every thread, as a share of one core while the data comes\n");
    bool ok = true;
    bool idleShown = false;
    for (const bool on : {false, true}) {
        if ((on && stamps == "off") || (!on && stamps == "on")) continue;
        std::printf("\nPek, time stamps %s:\n", on ? "on" : "off");
        for (const double rate : ParseRates(rates)) {
            Result idle;
            const Result r = RunPek(rate, on, seconds, pieceMs, ascii, cellCopies, preloadMB * 1'000'000ull, server, idleS, idleShown || idleS <= 0 ? nullptr : &idle, cells);
            if (!idleShown && idleS > 0 && r.failure.empty()) {
                std::printf("  %-26s %11s  %6.1f %%  main %5.1f %%  %5.1f paints/s", "idle, port open, focused", "",
                            idle.cpu * 100, idle.mainThread * 100, idle.paintsPerS);
                if (idle.server >= 0) std::printf("                       X server %5.1f %%", idle.server * 100);
                std::printf("\n");
                idleShown = true;
            }
            PrintRow(on ? "Pek, stamps on" : "Pek, stamps off", rate, r);
            if (r.failure.empty())
                std::printf("  %-26s pane %dx%d cells, %dx%d pixels\n", "", r.paneCells.width(), r.paneCells.height(), r.panePixels.width(),
                            r.panePixels.height());
            ok = ok && r.failure.empty() && r.intact;
        }
    }
    if (xterm) {
        std::printf("\npicocom inside xterm 80x40 (CPU of both processes):\n");
        for (const double rate : ParseRates(rates)) PrintRow("xterm + picocom", rate, RunXterm(rate, seconds, pieceMs, ascii, server));
    }
    if (cuteCom) {
        std::printf("\nCuteCom (its window at its own size):\n");
        for (const double rate : ParseRates(rates)) PrintRow("CuteCom", rate, RunCuteCom(rate, seconds, pieceMs, ascii, server));
    }
    return ok ? 0 : 1;
}
