// Appends 50 MB of received-looking text to a pane in 255-byte chunks and measures the append rate,
// the time to paint one screen at the start, middle and end, and the memory per stored byte.
// Then whole-word search on a long line and painting with find marks in a pane of long lines.
// Then the text and the deletion of box selections over long wrapped lines.
// Run offscreen: QT_QPA_PLATFORM=offscreen editor_bench [megabytes [append|search|marks|screens|box]]
#include <QApplication>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

#include "editor/EditorEx.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Lines of 20 to 200 bytes, a fifth of them with Shift-JIS text, CR LF endings.
class ReceivedText {
public:
    std::string NextLine()
    {
        const int len = 20 + int(rng_() % 181);
        std::string line;
        const bool kanji = rng_() % 5 == 0;
        while (int(line.size()) < len - 2) {
            if (kanji && rng_() % 3 == 0) {
                line += "\x8a\xbf";  // a double-byte character
            } else {
                const char* words[] = {"OK ", "ERROR ", "AT+CSQ ", "12345 ", "value=", "0x1F ", "--", "\"", "http://x.y/z "};
                line += words[rng_() % 9];
            }
        }
        line.resize(size_t(len - 2));
        if (static_cast<unsigned char>(line.back()) >= 0x81 && line.size() >= 1) {
            // never end on a lone lead byte
            size_t i = 0;
            while (i < line.size()) i += (static_cast<unsigned char>(line[i]) == 0x8a && i + 1 < line.size()) ? 2 : 1;
            if (i > line.size()) line.pop_back();
        }
        return line + "\r\n";
    }

private:
    std::mt19937 rng_{42};
};

// The processor time of this thread: on a shared machine it shows what a paint costs where the
// wall clock also counts the time other programs held the processor.
double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct PaintFigures {
    double first = 0;
    double average = 0;
    double averageCpu = 0;
};

PaintFigures PaintAt(pek::TEditorEx& editor, long long row)
{
    editor.SetTopRow(row);
    auto t0 = Clock::now();
    editor.viewport()->repaint();
    auto t1 = Clock::now();
    constexpr int kRepeats = 20;
    const double c1 = ThreadSeconds();
    for (int i = 0; i < kRepeats; ++i) editor.viewport()->repaint();
    const double c2 = ThreadSeconds();
    auto t2 = Clock::now();
    return {Seconds(t0, t1) * 1000, Seconds(t1, t2) * 1000 / kRepeats, (c2 - c1) * 1000 / kRepeats};
}

void Run(const char* title, long long megabytes, bool luaRules, bool lineBreaks = true)
{
    pek::TEditorEx editor;
    editor.resize(1000, 800);  // about 50 rows of 80 columns and more
    editor.show();
    if (luaRules) {
        editor.SetCommenter("--");
        editor.AddBracket("--[", "]", 65280);
        editor.AddBracket("\"", "\"", 16776960);
        editor.SetReserveWordList({"and", "end", "if", "then", "ERROR", "OK"});
    } else {
        editor.SetReserveWordList({"Error"});
    }
    editor.SetUndoListMax(64);
    QApplication::processEvents();

    const long long target = megabytes * 1024 * 1024;
    ReceivedText source;
    std::string pending;
    long long appended = 0;
    const long before = ResidentBytes();
    const size_t heapBefore = mallinfo2().uordblks;
    double appendSeconds = 0;
    std::string chunk;
    while (appended < target) {
        while (pending.size() < 4096) {
            std::string line = source.NextLine();
            if (!lineBreaks) line.resize(line.size() - 2);
            pending += line;
        }
        // Chunks of 255 bytes, as the receive handler reads them; it scrolls once per burst.
        const auto t0 = Clock::now();
        for (int k = 0; k < 16 && appended < target; ++k) {
            chunk.assign(pending, 0, 255);
            pending.erase(0, 255);
            editor.AppendText(chunk);
            appended += static_cast<long long>(chunk.size());
        }
        editor.ScrollToEnd();
        appendSeconds += Seconds(t0, Clock::now());
    }
    const long after = ResidentBytes();
    const size_t heapAfter = mallinfo2().uordblks;
    const double mb = double(appended) / (1024.0 * 1024.0);
    std::printf("%s\n", title);
    std::printf("  appended %.1f MB in 255-byte chunks: %.2f s, %.1f MB/s (%lld lines, %lld rows)\n", mb, appendSeconds,
                mb / appendSeconds, editor.LineCount(), editor.Model().Lines().RowCount());
    std::printf("  memory: %.2f bytes per stored byte in use on the heap, resident growth %.2f per byte (%.1f MB)\n",
                double(heapAfter - heapBefore) / double(appended), double(after - before) / double(appended),
                double(after - before) / (1024.0 * 1024.0));
    std::printf("  the text store itself holds %.2f bytes per stored byte\n",
                double(editor.Model().Lines().MemoryUsage()) / double(appended));
    // The pane paints its end once the flood is over; with ranges this computes the range state of
    // every line once.
    const auto e0 = Clock::now();
    QApplication::processEvents();
    std::printf("  first pass of the event loop after the flood (scroll bars, paint at the end): %.2f ms\n",
                Seconds(e0, Clock::now()) * 1000);
    const long long rows = editor.Model().Lines().RowCount();
    const char* names[] = {"start", "middle", "end"};
    const long long at[] = {0, rows / 2, std::max<long long>(0, rows - editor.RowCount())};
    for (int i = 0; i < 3; ++i) {
        const PaintFigures f = PaintAt(editor, at[i]);
        std::printf("  paint one screen (%lld rows) at the %s: first %.2f ms, then %.3f ms (%.3f ms processor time)\n", editor.RowCount(),
                    names[i], f.first, f.average, f.averageCpu);
    }
    if (luaRules) {
        // New rules drop the range states: the next paint far down the text recomputes them.
        editor.SetCommenter("--");
        editor.SetCommenter("#");
        editor.SetCommenter("--");
        const PaintFigures f = PaintAt(editor, rows / 2);
        std::printf("  paint at the middle right after the highlighting rules changed: first %.2f ms, then %.3f ms\n", f.first,
                    f.average);
    }
    const long full = ResidentBytes();
    editor.Clear();
    std::printf("  resident after clearing the pane: %.1f MB (%.1f MB before it filled, %.1f MB full)\n",
                double(ResidentBytes()) / 1048576.0, double(before) / 1048576.0, double(full) / 1048576.0);
}

// Plain and whole-word search over one 64 KB line of short words, where almost every candidate of
// the whole-word search fails (the word is part of longer ones).
void SearchLongLine()
{
    std::string line;
    std::mt19937 rng(7);
    const char* words[] = {"abc ", "xab ", "abab ", "OK ", "\x83\x4a\x83\x5e ", "ab,", "12 "};
    while (line.size() < 64 * 1024) line += words[rng() % 7];
    line.resize(64 * 1024);
    std::printf("Search on one 64 KB line:\n");
    double plain = 0;
    for (const pek::TSearchOptions options : {pek::TSearchOptions(0), pek::TSearchOptions(pek::soWholeWord)}) {
        pek::TLineMatcher matcher;
        matcher.Prepare("ab", options, false);
        constexpr int kRepeats = 50;
        size_t found = 0;
        const auto t0 = Clock::now();
        for (int i = 0; i < kRepeats; ++i) found += matcher.Matches(line).size();
        const double ms = Seconds(t0, Clock::now()) * 1000 / kRepeats;
        if (options == 0) plain = ms;
        std::printf("  %s: %.3f ms per search (%zu matches)%s\n", options ? "whole word" : "plain", ms, found / kRepeats,
                    options ? (" = " + std::to_string(ms / plain).substr(0, 4) + " x plain").c_str() : "");
    }
}

// A 50 MB pane of 16 KB lines with find marks on: one screen painted in the middle.
void PaintWithFindMarks(long long megabytes)
{
    pek::TEditorEx editor;
    editor.resize(1000, 800);
    editor.show();
    std::string line;
    ReceivedText source;
    while (line.size() < 16 * 1024) line += source.NextLine().substr(0, 60) + " ";
    line.resize(16 * 1024 - 2);
    line += "\r\n";
    for (long long n = 0; n < megabytes * 1024 * 1024; n += static_cast<long long>(line.size())) editor.AppendText(line);
    QApplication::processEvents();
    std::printf("Pane of 16 KB lines (%.0f MB, %lld rows) with find marks on:\n", double(megabytes), editor.Model().Lines().RowCount());
    for (const pek::TSearchOptions options : {pek::TSearchOptions(0), pek::TSearchOptions(pek::soWholeWord)}) {
        editor.SetFindString("ERROR");
        editor.SetExSearchOptions(options);
        const long long rows = editor.Model().Lines().RowCount();
        const PaintFigures f = PaintAt(editor, rows / 2 + (options ? 1000 : 0));
        std::printf("  %s: paint one screen first %.2f ms, then %.3f ms (%.3f ms processor time)\n", options ? "whole word" : "plain",
                    f.first, f.average, f.averageCpu);
    }
}

// Text of a box selection (the script's SelText), then deleting it: one 256 KB line wrapped at 80 columns, the same
// line unwrapped, and 256 KB of 100-byte lines, each with a box 20 columns wide over every row.
void BoxSelectionText()
{
    std::printf("Box selection text, columns 10 to 30 of every row:\n");
    std::string line;
    std::mt19937 rng(5);
    while (line.size() < 256 * 1024) line += rng() % 8 == 0 ? std::string("\x82\xa0") : std::string(1, char('a' + rng() % 26));
    std::string lines;
    for (size_t i = 0; i < line.size(); i += 100) lines += line.substr(i, 100) + "\r\n";
    const struct {
        const char* name;
        const std::string& text;
        bool wrap;
    } cases[] = {{"one 256 KB line wrapped at 80", line, true}, {"one 256 KB line unwrapped", line, false},
                 {"256 KB of 100-byte lines wrapped at 80", lines, true}};
    for (const auto& c : cases) {
        pek::TEditorModel model;
        model.SetWordWrap(c.wrap);
        model.SetWrapByte(80);
        model.SetText(c.text);
        model.SetSelectionMode(pek::TSelectionMode::smBox);
        model.SetCaret(0, 10);
        model.SetCaret(model.Lines().RowCount() - 1, 30, true);
        const long long rows = model.Lines().RowCount();
        const auto t0 = Clock::now();
        const size_t size = model.SelText().size();
        const auto t1 = Clock::now();
        model.DeleteSelection();
        std::printf("  %s (%lld rows): text %.2f ms (%zu bytes), deleting the box %.2f ms\n", c.name,
                    rows, Seconds(t0, t1) * 1000, size, Seconds(t1, Clock::now()) * 1000);
    }
}

}  // namespace

// One full screen of device output painted again and again: finished cells copied into the pane
// against every glyph drawn anew, for ASCII lines and for lines with Shift-JIS text.
void PaintFullScreens()
{
    std::printf("Full-screen paints of device lines (1000x800 pane):\n");
    for (const bool ascii : {true, false}) {
        std::string text;
        std::mt19937 rng(7);
        for (int line = 0; line < 200; ++line) {
            const int length = 10 + int(rng() % 131);
            for (int i = 0; i < length; ++i) {
                if (!ascii && rng() % 4 == 0) {
                    text += char(0x88 + rng() % 8);
                    text += char(0x9F + rng() % 90);
                } else {
                    text += char(' ' + rng() % 95);
                }
            }
            text += "\r\n";
        }
        for (const bool copies : {true, false}) {
            pek::TEditorEx editor;
            editor.resize(1000, 800);
            editor.show();
            editor.SetCellCopyBudget(copies ? 4u << 20 : 0);
            editor.Model().AppendText(text, true);
            QApplication::processEvents();
            editor.SetTopRow(100);
            editor.viewport()->repaint();  // the first paint draws the glyphs the font has not rendered yet
            constexpr int kRepeats = 300;
            const double c0 = ThreadSeconds();
            for (int i = 0; i < kRepeats; ++i) editor.viewport()->repaint();
            std::printf("  %s, %s: %.3f ms processor time per screen\n", ascii ? "ASCII" : "with Shift-JIS",
                        copies ? "cells copied" : "glyphs drawn", (ThreadSeconds() - c0) * 1000 / kRepeats);
        }
    }
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 50;
    // A second argument runs one part only: append, search, marks, screens or box.
    const std::string part = argc > 2 ? argv[2] : "";
    if (part.empty() || part == "append") {
        Run("Pane with the template settings (wrap at 80, a reserved word):", megabytes, false);
        Run("Pane with Lua highlighting (ranges carried across lines):", megabytes, true);
        Run("A stream without line breaks (one endless line):", megabytes, false, false);
    }
    if (part.empty() || part == "search") SearchLongLine();
    if (part.empty() || part == "marks") PaintWithFindMarks(megabytes);
    if (part.empty() || part == "screens") PaintFullScreens();
    if (part.empty() || part == "box") BoxSelectionText();
    return 0;
}
