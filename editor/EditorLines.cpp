#include "editor/EditorLines.h"

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/ByteScan.h"
#include "platform/Exception.h"

namespace pek {

namespace {
// A block is cut when it holds more than twice these; the pieces hold at most these.
constexpr size_t kBlockBytes = 16 * 1024;
constexpr size_t kBlockLines = 512;

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// The store is many small blocks: freeing them leaves holes in the heap that the allocator keeps
// for itself. After a large text is dropped the pages go back to the system.
void GiveBackFreedMemory(size_t freedBytes)
{
#ifdef __GLIBC__
    constexpr size_t kWorthIt = 8 * 1024 * 1024;
    if (freedBytes >= kWorthIt) malloc_trim(0);
#else
    (void)freedBytes;
#endif
}
}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (;;) {
        const size_t i = start + FindLineBreak(text.data() + start, text.size() - start);
        if (i == text.size()) break;
        lines.push_back(text.substr(start, i - start));
        start = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? i + 2 : i + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

TEditorLines::TEditorLines() { ResetStore(); }
TEditorLines::~TEditorLines() = default;

void TEditorLines::ResetStore()
{
    blocks_.clear();
    Block block;
    block.starts.push_back(0);
    block.rows.push_back(uint32_t(WrapLine({}, layout_)));
    block.rowSum = block.rows[0];
    blocks_.push_back(std::move(block));
    Reindex(0);
}

void TEditorLines::Reindex(size_t fromBlock)
{
    const size_t n = blocks_.size();
    firstLine_.resize(n);
    firstRow_.resize(n);
    firstByte_.resize(n);
    for (size_t b = fromBlock; b < n; ++b) {
        if (b == 0) {
            firstLine_[0] = firstRow_[0] = firstByte_[0] = 0;
        } else {
            const Block& prev = blocks_[b - 1];
            firstLine_[b] = firstLine_[b - 1] + static_cast<long long>(prev.lineCount());
            firstRow_[b] = firstRow_[b - 1] + prev.rowSum;
            firstByte_[b] = firstByte_[b - 1] + static_cast<long long>(prev.bytes.size());
        }
    }
    const Block& last = blocks_.back();
    totalLines_ = firstLine_[n - 1] + static_cast<long long>(last.lineCount());
    totalRows_ = firstRow_[n - 1] + last.rowSum;
    totalBytes_ = firstByte_[n - 1] + static_cast<long long>(last.bytes.size());
}

std::pair<size_t, size_t> TEditorLines::Locate(long long line) const
{
    const auto it = std::upper_bound(firstLine_.begin(), firstLine_.end(), line);
    size_t b = size_t(std::max<std::ptrdiff_t>(0, (it - firstLine_.begin()) - 1));
    // Skip empty blocks that share the same first line.
    while (b + 1 < blocks_.size() && line - firstLine_[b] >= static_cast<long long>(blocks_[b].lineCount())) ++b;
    return {b, size_t(line - firstLine_[b])};
}

std::string_view TEditorLines::LineView(long long line) const
{
    if (line < 0 || line >= totalLines_) return {};
    const auto [b, i] = Locate(line);
    const Block& block = blocks_[b];
    return std::string_view(block.bytes).substr(block.starts[i], block.lineEnd(i) - block.starts[i]);
}

std::string TEditorLines::GetLine(long long line) const { return std::string(LineView(line)); }

long long TEditorLines::LineLength(long long line) const { return static_cast<long long>(LineView(line).size()); }

TTextPos TEditorLines::EndPos() const { return {totalLines_ - 1, LineLength(totalLines_ - 1)}; }

TTextPos TEditorLines::Clamp(TTextPos pos) const
{
    pos.line = std::clamp<long long>(pos.line, 0, totalLines_ - 1);
    const std::string_view s = LineView(pos.line);
    pos.byte = std::clamp<long long>(pos.byte, 0, static_cast<long long>(s.size()));
    if (pos.byte == 0 || pos.byte == static_cast<long long>(s.size())) return pos;  // always character starts
    size_t i = 0;
    while (i < size_t(pos.byte)) {
        const size_t next = i + size_t(CharBytes(s, i));
        if (next > size_t(pos.byte)) {
            pos.byte = static_cast<long long>(i);  // inside a double-byte character: onto its start
            break;
        }
        i = next;
    }
    return pos;
}

long long TEditorLines::PosToOffset(TTextPos pos) const
{
    pos.line = std::clamp<long long>(pos.line, 0, totalLines_ - 1);
    const auto [b, i] = Locate(pos.line);
    const long long len = static_cast<long long>(blocks_[b].lineEnd(i) - blocks_[b].starts[i]);
    return firstByte_[b] + blocks_[b].starts[i] + 2 * pos.line + std::clamp<long long>(pos.byte, 0, len);
}

TTextPos TEditorLines::OffsetToPos(long long offset) const
{
    offset = std::clamp<long long>(offset, 0, TextLength());
    size_t lo = 0, hi = blocks_.size();  // last block whose start offset is <= offset
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (firstByte_[mid] + 2 * firstLine_[mid] <= offset) lo = mid; else hi = mid;
    }
    const Block& block = blocks_[lo];
    size_t a = 0, z = block.lineCount();
    auto key = [&](size_t i) { return firstByte_[lo] + block.starts[i] + 2 * (firstLine_[lo] + static_cast<long long>(i)); };
    while (z - a > 1) {
        const size_t mid = (a + z) / 2;
        if (key(mid) <= offset) a = mid; else z = mid;
    }
    const long long line = firstLine_[lo] + static_cast<long long>(a);
    const long long len = static_cast<long long>(block.lineEnd(a) - block.starts[a]);
    return {line, std::min(offset - key(a), len)};
}

std::string TEditorLines::GetRange(TTextPos from, TTextPos to) const
{
    from = Clamp(from);
    to = Clamp(to);
    if (to < from) std::swap(from, to);
    std::string out;
    for (long long l = from.line; l <= to.line; ++l) {
        const std::string_view s = LineView(l);
        const size_t a = l == from.line ? size_t(from.byte) : 0;
        const size_t z = l == to.line ? size_t(to.byte) : s.size();
        out.append(s.substr(a, z - a));
        if (l != to.line) out += "\r\n";
    }
    return out;
}

std::string TEditorLines::Text() const
{
    std::string out;
    out.reserve(size_t(TextLength()));
    bool first = true;
    for (const Block& block : blocks_) {
        for (size_t i = 0; i < block.lineCount(); ++i) {
            if (!first) out += "\r\n";
            first = false;
            out.append(block.bytes, block.starts[i], block.lineEnd(i) - block.starts[i]);
        }
    }
    return out;
}

void TEditorLines::ReplaceInLine(long long line, long long from, long long to, std::string_view text)
{
    const auto [b, i] = Locate(line);
    Block& block = blocks_[b];
    const size_t off = block.starts[i];
    block.bytes.replace(off + size_t(from), size_t(to - from), text);
    const long long delta = static_cast<long long>(text.size()) - (to - from);
    for (size_t j = i + 1; j < block.lineCount(); ++j) block.starts[j] = uint32_t(static_cast<long long>(block.starts[j]) + delta);
    const std::string_view s = std::string_view(block.bytes).substr(off, block.lineEnd(i) - off);
    const uint32_t rows = uint32_t(WrapLine(s, layout_));
    block.rowSum += static_cast<long long>(rows) - static_cast<long long>(block.rows[i]);
    block.rows[i] = rows;
    Rebalance(b);
}

void TEditorLines::EraseLines(long long first, long long count)
{
    while (count > 0) {
        const auto [b, i] = Locate(first);
        Block& block = blocks_[b];
        const size_t k = std::min(size_t(count), block.lineCount() - i);
        const uint32_t a = block.starts[i];
        const uint32_t z = block.lineEnd(i + k - 1);
        block.bytes.erase(a, z - a);
        block.starts.erase(block.starts.begin() + long(i), block.starts.begin() + long(i + k));
        for (size_t j = i; j < block.lineCount(); ++j) block.starts[j] -= (z - a);
        for (size_t j = i; j < i + k; ++j) block.rowSum -= block.rows[j];
        block.rows.erase(block.rows.begin() + long(i), block.rows.begin() + long(i + k));
        if (block.lineCount() == 0 && blocks_.size() > 1) {
            blocks_.erase(blocks_.begin() + long(b));
            Reindex(b == 0 ? 0 : b - 1);
        } else {
            Reindex(b);
        }
        count -= static_cast<long long>(k);
    }
}

void TEditorLines::InsertLines(long long at, const std::vector<std::string_view>& lines)
{
    size_t b, i;
    if (at >= totalLines_) {
        b = blocks_.size() - 1;
        i = blocks_[b].lineCount();
    } else {
        std::tie(b, i) = Locate(at);
    }
    Block& block = blocks_[b];
    const size_t off = i < block.lineCount() ? block.starts[i] : block.bytes.size();
    size_t total = 0;
    for (const auto& l : lines) total += l.size();
    std::string joined;
    joined.reserve(total);
    std::vector<uint32_t> starts, rows;
    starts.reserve(lines.size());
    rows.reserve(lines.size());
    for (const auto& l : lines) {
        starts.push_back(uint32_t(off + joined.size()));
        joined.append(l);
        const uint32_t r = uint32_t(WrapLine(l, layout_));
        rows.push_back(r);
        block.rowSum += r;
    }
    block.bytes.insert(off, joined);
    for (size_t j = i; j < block.lineCount(); ++j) block.starts[j] += uint32_t(joined.size());
    block.starts.insert(block.starts.begin() + long(i), starts.begin(), starts.end());
    block.rows.insert(block.rows.begin() + long(i), rows.begin(), rows.end());
    Rebalance(b);
}

void TEditorLines::Rebalance(size_t b)
{
    Block& block = blocks_[b];
    if ((block.bytes.size() <= 2 * kBlockBytes || block.lineCount() <= 1) && block.lineCount() <= 2 * kBlockLines) {
        Reindex(b);
        return;
    }
    std::vector<Block> pieces;
    size_t i = 0;
    const size_t n = block.lineCount();
    while (i < n) {
        size_t j = i + 1;
        while (j < n && j - i < kBlockLines && block.lineEnd(j) - block.starts[i] <= kBlockBytes) ++j;
        Block piece;
        const uint32_t base = block.starts[i];
        piece.bytes.assign(block.bytes, base, block.lineEnd(j - 1) - base);
        piece.starts.reserve(j - i);
        piece.rows.reserve(j - i);
        for (size_t k = i; k < j; ++k) {
            piece.starts.push_back(block.starts[k] - base);
            piece.rows.push_back(block.rows[k]);
            piece.rowSum += block.rows[k];
        }
        pieces.push_back(std::move(piece));
        i = j;
    }
    blocks_.erase(blocks_.begin() + long(b));
    blocks_.insert(blocks_.begin() + long(b), std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    Reindex(b);
}

TTextPos TEditorLines::AppendRaw(std::string_view text)
{
    // Straight onto the end of the last block: the cost follows the appended text. Rows before the
    // last row of the last line cannot change, so only its last row is wrapped again.
    const long long lastLine = totalLines_ - 1;
    const std::vector<std::string_view> parts = SplitLines(text);
    Block& block = blocks_.back();
    const size_t i = block.lineCount() - 1;
    const bool cached = tailCache_.line == lastLine && tailCache_.version == version_;
    const size_t oldEnd = block.bytes.size();
    const bool endsInLead = oldEnd > block.starts[i] && IsDBCSLeadByte(static_cast<unsigned char>(block.bytes.back()));
    block.bytes.append(parts[0]);
    const std::string_view last = std::string_view(block.bytes).substr(block.starts[i]);
    if (cached) {
        std::vector<uint32_t>& starts = tailCache_.starts;
        // A lead byte at the end may pair with the first appended byte and move the row before.
        if (endsInLead && starts.size() >= 2) starts.pop_back();
        const uint32_t from = starts.back();
        std::vector<uint32_t> tail;
        WrapLine(last.substr(from), layout_, &tail);
        for (size_t k = 1; k < tail.size(); ++k) starts.push_back(from + tail[k]);
    } else {
        WrapLine(last, layout_, &tailCache_.starts);
    }
    tailCache_.line = lastLine;
    tailCache_.version = version_;
    const uint32_t rows = uint32_t(tailCache_.starts.size());
    block.rowSum += static_cast<long long>(rows) - static_cast<long long>(block.rows[i]);
    block.rows[i] = rows;
    if (parts.size() > 1) {
        // The old last line stops being the tail: its fresh row starts become the long-line cache,
        // which may still hold the line as it was before this append.
        wrapCache_.starts.swap(tailCache_.starts);
        wrapCache_.line = lastLine;
        wrapCache_.version = version_;
    } else if (wrapCache_.line == lastLine) {
        wrapCache_.line = -1;
    }
    const size_t oldLast = blocks_.size() - 1;
    for (size_t k = 1; k < parts.size(); ++k) {
        if (blocks_.back().bytes.size() >= kBlockBytes || blocks_.back().lineCount() >= kBlockLines) {
            // A full block at the end is closed and new lines start the next one, so appending
            // never copies what the pane already holds (splitting a grown block did, twice).
            Block& full = blocks_.back();
            if (full.bytes.capacity() > full.bytes.size() + full.bytes.size() / 8) full.bytes.shrink_to_fit();
            blocks_.emplace_back().bytes.reserve(kBlockBytes + 512);
        }
        Block& tail = blocks_.back();
        tail.starts.push_back(uint32_t(tail.bytes.size()));
        tail.bytes.append(parts[k]);
        const uint32_t r = uint32_t(WrapLine(parts[k], layout_, k + 1 == parts.size() ? &tailCache_.starts : nullptr));
        tail.rows.push_back(r);
        tail.rowSum += r;
    }
    if (parts.size() > 1) tailCache_.line = lastLine + static_cast<long long>(parts.size()) - 1;
    if (blocks_.size() - 1 != oldLast) Reindex(oldLast);
    Rebalance(blocks_.size() - 1);
    if (parts.size() == 1) return {lastLine, LineLength(lastLine)};
    return {lastLine + static_cast<long long>(parts.size()) - 1, static_cast<long long>(parts.back().size())};
}

TTextPos TEditorLines::ReplaceRaw(TTextPos from, TTextPos to, std::string_view text)
{
    if (from == to && from == EndPos()) return AppendRaw(text);
    ++version_;
    if (from.line == to.line && !HasLineBreak(text)) {
        ReplaceInLine(from.line, from.byte, to.byte, text);
        return {from.line, from.byte + static_cast<long long>(text.size())};
    }
    const std::string prefix(LineView(from.line).substr(0, size_t(from.byte)));
    const std::string suffix(LineView(to.line).substr(size_t(to.byte)));
    const std::vector<std::string_view> parts = SplitLines(text);
    std::string first = prefix + std::string(parts.front());
    std::string last;
    std::vector<std::string_view> lines;
    lines.reserve(parts.size());
    TTextPos end;
    if (parts.size() == 1) {
        first += suffix;
        lines.push_back(first);
        end = {from.line, from.byte + static_cast<long long>(parts[0].size())};
    } else {
        last = std::string(parts.back()) + suffix;
        lines.push_back(first);
        for (size_t k = 1; k + 1 < parts.size(); ++k) lines.push_back(parts[k]);
        lines.push_back(last);
        end = {from.line + static_cast<long long>(parts.size()) - 1, static_cast<long long>(parts.back().size())};
    }
    EraseLines(from.line, to.line - from.line + 1);
    InsertLines(from.line, lines);
    return end;
}

TTextPos TEditorLines::Replace(TTextPos from, TTextPos to, std::string_view text, bool typing)
{
    from = Clamp(from);
    to = Clamp(to);
    if (to < from) std::swap(from, to);
    pendingCr_ = false;
    if (from == to && text.empty()) return from;
    Step step{from, GetRange(from, to), {}, typing};
    const TTextPos end = ReplaceRaw(from, to, text);
    step.insertedEnd = end;
    Record(std::move(step));
    modified_ = true;
    const TLinesChange change{TLinesChange::Edit, from, to, end};
    MoveMarks(change);
    Notify(change);
    return end;
}

TTextPos TEditorLines::Append(std::string_view text)
{
    if (pendingCr_ && !text.empty() && text.front() == '\n' && LineLength(totalLines_ - 1) == 0) text.remove_prefix(1);
    const TTextPos end = EndPos();
    const TTextPos result = Replace(end, end, text);
    pendingCr_ = !text.empty() && text.back() == '\r';
    if (maxLines_ > 0 && totalLines_ > maxLines_) {
        const long long dropped = DropFirstLines(totalLines_ - maxLines_ + std::max(1LL, maxLines_ / 16));
        return {result.line - dropped, result.byte};
    }
    return result;
}

void TEditorLines::SetMaxLines(long long max)
{
    maxLines_ = std::max(0LL, max);
    if (maxLines_ > 0 && totalLines_ > maxLines_) DropFirstLines(totalLines_ - maxLines_);
}

long long TEditorLines::DropFirstLines(long long count)
{
    count = std::min(count, totalLines_ - 1);
    if (count <= 0) return 0;
    const long long rows = FirstRowOfLine(count);
    // Whole blocks leave at once; only the first block left over is cut inside.
    size_t whole = 0;
    long long left = count;
    while (whole + 1 < blocks_.size() && static_cast<long long>(blocks_[whole].lineCount()) <= left) {
        left -= static_cast<long long>(blocks_[whole].lineCount());
        ++whole;
    }
    blocks_.erase(blocks_.begin(), blocks_.begin() + long(whole));
    Reindex(0);
    if (left > 0) EraseLines(0, left);
    // The lines kept are unchanged, so their cached row starts stay good under their new numbers.
    for (WrapCache* cache : {&wrapCache_, &tailCache_}) cache->line = cache->line >= count ? cache->line - count : -1;
    MarkMap kept;
    for (auto it = marks_.lower_bound({count, 0}); it != marks_.end(); ++it)
        kept.emplace_hint(kept.end(), MarkKey{it->first.first - count, it->first.second}, it->second);
    marks_.swap(kept);
    ClearUndo();   // its steps name positions in lines that moved or went
    TLinesChange change{TLinesChange::Edit, {0, 0}, {count, 0}, {0, 0}};
    change.droppedRows = rows;
    Notify(change);
    return count;
}

void TEditorLines::Record(Step step)
{
    redo_.clear();
    if (undoListMax_ <= 0) return;
    if (step.typing && !undo_.empty()) {
        Step& last = undo_.back();
        if (last.typing && last.removed.empty() && step.removed.empty() && last.insertedEnd == step.from &&
            step.insertedEnd.line == last.from.line && step.insertedEnd.byte - last.from.byte <= 256) {
            last.insertedEnd = step.insertedEnd;
            return;
        }
    }
    undo_.push_back(std::move(step));
    while (static_cast<long long>(undo_.size()) > undoListMax_) undo_.pop_front();
}

void TEditorLines::SetUndoListMax(int max)
{
    undoListMax_ = std::max(0, max);
    while (static_cast<long long>(undo_.size()) > undoListMax_) undo_.pop_front();
    while (static_cast<long long>(redo_.size()) > undoListMax_) redo_.pop_front();
}

std::pair<TTextPos, TTextPos> TEditorLines::Undo()
{
    if (undo_.empty()) return {EndPos(), EndPos()};
    Step step = std::move(undo_.back());
    undo_.pop_back();
    std::string inserted = GetRange(step.from, step.insertedEnd);
    const TTextPos end = ReplaceRaw(step.from, step.insertedEnd, step.removed);
    const TLinesChange change{TLinesChange::Edit, step.from, step.insertedEnd, end};
    redo_.push_back({step.from, std::move(inserted), end, false});
    pendingCr_ = false;
    modified_ = true;
    MoveMarks(change);
    Notify(change);
    return {step.from, end};
}

std::pair<TTextPos, TTextPos> TEditorLines::Redo()
{
    if (redo_.empty()) return {EndPos(), EndPos()};
    Step step = std::move(redo_.back());
    redo_.pop_back();
    std::string inserted = GetRange(step.from, step.insertedEnd);
    const TTextPos end = ReplaceRaw(step.from, step.insertedEnd, step.removed);
    const TLinesChange change{TLinesChange::Edit, step.from, step.insertedEnd, end};
    undo_.push_back({step.from, std::move(inserted), end, false});
    pendingCr_ = false;
    modified_ = true;
    MoveMarks(change);
    Notify(change);
    return {step.from, end};
}

void TEditorLines::ClearUndo()
{
    undo_.clear();
    redo_.clear();
}

void TEditorLines::PutLine(long long line, std::string_view text)
{
    if (line < 0 || line >= totalLines_) return;
    Replace({line, 0}, {line, LineLength(line)}, text);
}

void TEditorLines::AddLine(std::string_view text)
{
    if (totalLines_ == 1 && totalBytes_ == 0) {
        Replace({0, 0}, {0, 0}, text);
        return;
    }
    const TTextPos end = EndPos();
    std::string s = "\r\n";
    s.append(text);
    Replace(end, end, s);
}

void TEditorLines::SetText(std::string_view text)
{
    ++version_;
    const size_t held = MemoryUsage();
    marks_.clear();
    ClearUndo();
    blocks_ = {};
    firstLine_ = {};
    firstRow_ = {};
    firstByte_ = {};
    wrapCache_ = {};
    tailCache_ = {};
    blocks_.emplace_back();  // no lines yet: the text's lines go in below
    Reindex(0);
    GiveBackFreedMemory(held);
    InsertLines(0, SplitLines(text));
    pendingCr_ = false;
    modified_ = true;
    Notify({TLinesChange::Reset, {}, {}, {}});
}

void TEditorLines::Clear() { SetText({}); }

void TEditorLines::LoadFromFile(const std::string& cp932FileName)
{
    const std::string path = FileNameToSystem(cp932FileName);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw Exception(Sjis("ファイルを開けません: ") + cp932FileName);
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw Exception(Sjis("ファイルを読み込めません: ") + cp932FileName);
    SetText(bytes);
    modified_ = false;
}

namespace {

// The file a save replaces: a symbolic link is followed so that the link itself stays.
std::string SaveTarget(const std::string& path)
{
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        std::string link(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) return target;
        link.resize(size_t(n));
        const size_t slash = target.rfind('/');
        target = link.starts_with('/') || slash == std::string::npos ? link : target.substr(0, slash + 1) + link;
    }
    return target;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

}  // namespace

void TEditorLines::SaveToFile(const std::string& cp932FileName)
{
    // Written beside the file and renamed over it, so that a full disk or a vanished medium leaves
    // the old file as it was.
    const std::string target = SaveTarget(FileNameToSystem(cp932FileName));
    const auto fail = [&] { return Exception(Sjis("ファイルに書き込めません: ") + cp932FileName); };
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".pek-save-%ld-%u~", long(::getpid()), attempt);
        temp = (slash == std::string::npos ? std::string() : dir) + "." +
               target.substr(slash == std::string::npos ? 0 : slash + 1) + suffix;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        // A folder that takes no new files: the file itself may still be writable.
        if (!exists) throw fail();
        std::FILE* f = std::fopen(target.c_str(), "wb");
        if (!f) throw fail();
        const std::string text = Text();
        const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (std::fclose(f) != 0 || !written) throw fail();
        modified_ = false;
        return;
    }
    bool ok = true;
    if (exists) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        // Keeping the owner needs rights a user seldom has; the mode is kept regardless.
        [[maybe_unused]] const int owner = ::fchown(fd, old.st_uid, old.st_gid);
    }
    ok = ok && WriteAll(fd, Text()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        throw fail();
    }
    modified_ = false;
}

void TEditorLines::EndUpdate()
{
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0) Notify({TLinesChange::UpdateEnded, {}, {}, {}});
}

void TEditorLines::SetLayout(const TWrapLayout& layout)
{
    if (layout == layout_) return;
    layout_ = layout;
    ++version_;
    for (Block& block : blocks_) {
        block.rowSum = 0;
        for (size_t i = 0; i < block.lineCount(); ++i) {
            const std::string_view s = std::string_view(block.bytes).substr(block.starts[i], block.lineEnd(i) - block.starts[i]);
            block.rows[i] = uint32_t(WrapLine(s, layout_));
            block.rowSum += block.rows[i];
        }
    }
    Reindex(0);
    Notify({TLinesChange::Layout, {}, {}, {}});
}

std::pair<long long, int> TEditorLines::RowToLineAndIndex(long long row) const
{
    row = std::clamp<long long>(row, 0, totalRows_ - 1);
    const auto it = std::upper_bound(firstRow_.begin(), firstRow_.end(), row);
    size_t b = size_t(std::max<std::ptrdiff_t>(0, (it - firstRow_.begin()) - 1));
    while (b > 0 && blocks_[b].lineCount() == 0) --b;
    const Block& block = blocks_[b];
    long long r = row - firstRow_[b];
    for (size_t i = 0; i < block.lineCount(); ++i) {
        if (r < static_cast<long long>(block.rows[i])) return {firstLine_[b] + static_cast<long long>(i), int(r)};
        r -= block.rows[i];
    }
    return {totalLines_ - 1, RowsOfLine(totalLines_ - 1) - 1};
}

long long TEditorLines::LineOfRow(long long row) const { return RowToLineAndIndex(row).first; }

long long TEditorLines::FirstRowOfLine(long long line) const
{
    line = std::clamp<long long>(line, 0, totalLines_ - 1);
    const auto [b, i] = Locate(line);
    long long row = firstRow_[b];
    for (size_t k = 0; k < i; ++k) row += blocks_[b].rows[k];
    return row;
}

int TEditorLines::RowsOfLine(long long line) const
{
    if (line < 0 || line >= totalLines_) return 0;
    const auto [b, i] = Locate(line);
    return int(blocks_[b].rows[i]);
}

namespace {
constexpr size_t kLongLine = 4096;  // lines from this length on keep their row starts cached
}

const std::vector<uint32_t>& TEditorLines::CachedRowStarts(long long line) const
{
    if (tailCache_.line == line && tailCache_.version == version_) return tailCache_.starts;
    if (wrapCache_.line != line || wrapCache_.version != version_) {
        WrapLine(LineView(line), layout_, &wrapCache_.starts);
        wrapCache_.line = line;
        wrapCache_.version = version_;
    }
    return wrapCache_.starts;
}

const std::vector<uint32_t>& TEditorLines::RowStarts(long long line, std::vector<uint32_t>& scratch) const
{
    const std::string_view s = LineView(line);
    if (s.size() >= kLongLine) return CachedRowStarts(line);
    WrapLine(s, layout_, &scratch);
    return scratch;
}

TRowInfo TEditorLines::RowInfo(long long row) const
{
    const auto [line, index] = RowToLineAndIndex(row);
    const std::string_view s = LineView(line);
    std::vector<uint32_t> scratch;
    const std::vector<uint32_t>& starts = RowStarts(line, scratch);
    TRowInfo info;
    info.line = line;
    info.index = std::min(index, int(starts.size()) - 1);
    info.start = starts[size_t(info.index)];
    info.end = size_t(info.index) + 1 < starts.size() ? starts[size_t(info.index) + 1] : static_cast<long long>(s.size());
    info.endsLine = size_t(info.index) + 1 == starts.size();
    return info;
}

long long TEditorLines::RowOfPos(TTextPos pos) const
{
    pos = Clamp(pos);
    std::vector<uint32_t> scratch;
    const std::vector<uint32_t>& starts = RowStarts(pos.line, scratch);
    const auto it = std::upper_bound(starts.begin(), starts.end(), uint32_t(pos.byte));
    return FirstRowOfLine(pos.line) + (it - starts.begin()) - 1;
}

int TEditorLines::ColumnOfPos(TTextPos pos) const
{
    pos = Clamp(pos);
    const std::string_view s = LineView(pos.line);
    std::vector<uint32_t> scratch;
    const std::vector<uint32_t>& starts = RowStarts(pos.line, scratch);
    const auto it = std::upper_bound(starts.begin(), starts.end(), uint32_t(pos.byte));
    return ColumnOf(s, *(it - 1), size_t(pos.byte), layout_);
}

TTextPos TEditorLines::PosOfRowCol(long long row, int col) const
{
    const TRowInfo info = RowInfo(row);
    const std::string_view s = LineView(info.line);
    size_t byte = ByteAtColumn(s, size_t(info.start), size_t(info.end), std::max(0, col), layout_);
    if (!info.endsLine && byte >= size_t(info.end) && info.end > info.start) {
        // The end of a wrapped row is the start of the next one: stay on the last character.
        size_t i = size_t(info.start), last = i;
        while (i < size_t(info.end)) {
            last = i;
            i += size_t(CharBytes(s, i));
        }
        byte = last;
    }
    return {info.line, static_cast<long long>(byte)};
}

// A mark is kept at the first byte of the row it was put on, so that it belongs to the text: with
// another wrap it stands on the row that now shows that byte.
std::pair<TEditorLines::MarkKey, TEditorLines::MarkKey> TEditorLines::MarkKeysOfRow(long long row) const
{
    const TRowInfo info = RowInfo(row);
    return {{info.line, info.index == 0 ? 0 : info.start}, info.endsLine ? MarkKey{info.line + 1, 0} : MarkKey{info.line, info.end}};
}

std::pair<TEditorLines::MarkMap::iterator, TEditorLines::MarkMap::iterator> TEditorLines::MarksOfRow(long long row)
{
    const auto [a, z] = MarkKeysOfRow(row);
    return {marks_.lower_bound(a), marks_.lower_bound(z)};
}

uint16_t TEditorLines::RowMarks(long long row) const
{
    if (row < 0 || row >= totalRows_ || marks_.empty()) return 0;
    const auto [a, z] = MarkKeysOfRow(row);
    uint16_t marks = 0;
    for (auto it = marks_.lower_bound(a); it != marks_.end() && it->first < z; ++it) marks |= it->second;
    return marks;
}

void TEditorLines::SetRowMarks(long long row, uint16_t marks)
{
    if (row < 0 || row >= totalRows_) return;
    const auto [first, last] = MarksOfRow(row);
    marks_.erase(first, last);
    const TRowInfo info = RowInfo(row);
    if (marks != 0) marks_[{info.line, info.start}] = marks;
    Notify({TLinesChange::Marks, {}, {}, {}});
}

void TEditorLines::AddRowMark(long long row, int mark)
{
    if (row < 0 || row >= totalRows_ || mark < 0 || mark > 15) return;
    const uint16_t bit = uint16_t(1u << mark);
    if (mark <= 9) {
        // A bookmark stands on one row only.
        for (auto it = marks_.begin(); it != marks_.end(); ++it) {
            if (it->second & bit) {
                it->second &= uint16_t(~bit);
                if (it->second == 0) marks_.erase(it);
                break;
            }
        }
    }
    const auto [first, last] = MarksOfRow(row);
    if (first != last) {
        first->second |= bit;
    } else {
        const TRowInfo info = RowInfo(row);
        marks_[{info.line, info.start}] = bit;
    }
    Notify({TLinesChange::Marks, {}, {}, {}});
}

void TEditorLines::RemoveRowMark(long long row, int mark)
{
    if (row < 0 || row >= totalRows_ || mark < 0 || mark > 15) return;
    auto [it, last] = MarksOfRow(row);
    while (it != last) {
        it->second &= uint16_t(~(1u << mark));
        it = it->second == 0 ? marks_.erase(it) : std::next(it);
    }
    Notify({TLinesChange::Marks, {}, {}, {}});
}

void TEditorLines::MoveMarks(const TLinesChange& change)
{
    // Marks after the start of the edit follow their text; a mark inside removed text goes to where
    // the edit starts, unless it stood on a line that went away. A mark at the very start stays.
    const long long lineDelta = change.newEnd.line - change.oldEnd.line;
    auto it = marks_.upper_bound({change.from.line, change.from.byte});
    std::vector<std::pair<MarkKey, uint16_t>> moved;
    while (it != marks_.end()) {
        const auto [line, byte] = it->first;
        if (line > change.oldEnd.line && lineDelta == 0) break;  // nothing further changes
        if (line > change.oldEnd.line) moved.push_back({{line + lineDelta, byte}, it->second});
        else if (line == change.oldEnd.line && byte >= change.oldEnd.byte)
            moved.push_back({{change.newEnd.line, byte - change.oldEnd.byte + change.newEnd.byte}, it->second});
        else if (line == change.from.line) moved.push_back({{change.from.line, change.from.byte}, it->second});
        it = marks_.erase(it);
    }
    for (const auto& [key, value] : moved) marks_[key] |= value;
}

size_t TEditorLines::MemoryUsage() const
{
    size_t total = blocks_.capacity() * sizeof(Block) + 3 * firstLine_.capacity() * sizeof(long long);
    for (const Block& b : blocks_) {
        total += b.bytes.capacity() + b.starts.capacity() * sizeof(uint32_t) + b.rows.capacity() * sizeof(uint32_t);
    }
    for (const auto& list : {&undo_, &redo_}) {
        for (const Step& step : *list) total += sizeof(Step) + step.removed.capacity();
    }
    return total + marks_.size() * 64;
}

int TEditorLines::Subscribe(Listener listener)
{
    const int id = nextListener_++;
    listeners_[id] = std::move(listener);
    return id;
}

void TEditorLines::Unsubscribe(int id) { listeners_.erase(id); }

void TEditorLines::Notify(const TLinesChange& change)
{
    // A listener may unsubscribe (or subscribe) while being told: walk a snapshot of the ids.
    std::vector<int> ids;
    ids.reserve(listeners_.size());
    for (const auto& entry : listeners_) ids.push_back(entry.first);
    for (const int id : ids) {
        const auto it = listeners_.find(id);
        if (it != listeners_.end()) it->second(change);
    }
}

}  // namespace pek
