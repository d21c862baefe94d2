// A day-long capture into one pane: resident memory, append rate and the longest single append
// with the line limit against an unbounded pane.
//   bench_pane_limit [megabytes=1000] [maxLines=1000000]
#include "bench/common/BenchSupport.h"
#include "editor/EditorModel.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

void Run(long long megabytes, long long maxLines)
{
    using namespace pek;
    using bench::Clock;
    TEditorModel pane;
    pane.SetVisibleExtent(40, 100);
    pane.Lines().SetMaxLines(maxLines);
    // 88 printable bytes and CR LF per line, handed over in reads of 255 bytes as a flood arrives.
    std::string stream;
    for (int i = 0; i < 1000; ++i) stream += "12:34:56.789| " + std::string(74, char('A' + i % 26)) + "\r\n";
    const long long total = megabytes * 1'000'000;
    long long sent = 0;
    Clock::duration longest{};
    const auto start = Clock::now();
    while (sent < total) {
        for (size_t at = 0; at < stream.size() && sent < total; at += 255) {
            const size_t n = std::min<size_t>(255, stream.size() - at);
            const auto before = Clock::now();
            pane.AppendText(std::string_view(stream).substr(at, n), true);
            pane.ScrollToEnd();
            longest = std::max(longest, Clock::now() - before);
            sent += static_cast<long long>(n);
        }
    }
    const auto elapsed = Clock::now() - start;
    std::printf("max lines %-9lld %5lld MB: %7.1f MB/s, resident %5.0f MB, pane %9lld lines, longest append %.1f ms\n",
                maxLines, megabytes, bench::MBps(static_cast<std::uint64_t>(sent), elapsed), bench::ResidentMB(),
                pane.Lines().LineCount(), std::chrono::duration<double, std::milli>(longest).count());
}

}  // namespace

int main(int argc, char** argv)
{
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 1000;
    const long long maxLines = argc > 2 ? std::atoll(argv[2]) : 1'000'000;
    Run(megabytes, maxLines);
    return 0;
}
