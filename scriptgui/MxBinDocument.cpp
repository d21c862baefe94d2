#include "scriptgui/MxBinDocument.h"

#include "platform/Exception.h"

#include <algorithm>

namespace pek {

TMxBinDocument::TMxBinDocument() = default;

void TMxBinDocument::Load(const void* bytes, std::int64_t count)
{
    TBackingFile fresh;
    if (count > 0) fresh.WriteAt(0, bytes, count);
    // Only now is the old content given up.
    file_ = std::move(fresh);
    size_ = count;
    winStart_ = -1;
    window_.clear();
    dirty_ = false;
    history_.clear();
    if (OnChangeUndo) OnChangeUndo(*this, 0);
}

std::int64_t TMxBinDocument::Store(void* buffer, std::int64_t count, bool keepHistory)
{
    Flush();
    const std::int64_t n = count <= 0 ? 0 : file_.ReadAt(0, buffer, std::min(count, size_));
    if (!keepHistory) {
        history_.clear();
        if (OnChangeUndo) OnChangeUndo(*this, 0);
    }
    return n;
}

void TMxBinDocument::EnsureWindow(std::int64_t n)
{
    const auto end = winStart_ + std::int64_t(window_.size());
    if (winStart_ >= 0 && n >= winStart_ && n <= end && std::min(n + 16, size_) <= end) return;
    Flush();
    winStart_ = std::max<std::int64_t>(0, n - WindowSize / 2);
    const std::int64_t length = std::clamp<std::int64_t>(size_ - winStart_, 0, WindowSize);
    window_.resize(std::size_t(length));
    winFileLength_ = file_.ReadAt(winStart_, window_.data(), length);
    window_.resize(std::size_t(winFileLength_));
}

void TMxBinDocument::Flush()
{
    if (!dirty_) return;
    const auto length = std::int64_t(window_.size());
    if (length != winFileLength_) {
        // Bytes were inserted or deleted inside the window: the rest of the file, from where the
        // window originally ended, moves to the window's new end.
        const std::int64_t fileSize = size_ - (length - winFileLength_);
        file_.Move(winStart_ + winFileLength_, winStart_ + length, fileSize - winStart_ - winFileLength_);
    }
    file_.WriteAt(winStart_, window_.data(), length);
    if (length != winFileLength_) file_.Resize(size_);
    winFileLength_ = length;
    dirty_ = false;
}

void TMxBinDocument::DropWindow()
{
    Flush();
    winStart_ = -1;
    window_.clear();
}

std::uint8_t TMxBinDocument::At(std::int64_t n)
{
    if (n < 0 || n >= size_) return 0;
    EnsureWindow(n);
    return window_[std::size_t(n - winStart_)];
}

std::string TMxBinDocument::ReadFile(std::int64_t offset, std::int64_t count)
{
    std::string bytes(std::size_t(count), '\0');
    bytes.resize(std::size_t(file_.ReadAt(offset, bytes.data(), count)));
    return bytes;
}

std::string TMxBinDocument::Read(std::int64_t offset, std::int64_t count)
{
    offset = std::clamp<std::int64_t>(offset, 0, size_);
    count = std::clamp<std::int64_t>(count, 0, size_ - offset);
    const auto end = winStart_ + std::int64_t(window_.size());
    if (winStart_ >= 0 && offset >= winStart_ && offset + count <= end)
        return std::string(reinterpret_cast<const char*>(window_.data()) + (offset - winStart_), std::size_t(count));
    Flush();
    return ReadFile(offset, count);
}

void TMxBinDocument::Record(TEditRecord record)
{
    history_.push_back(std::move(record));
    if (OnChangeUndo) OnChangeUndo(*this, history_.size());
}

bool TMxBinDocument::Overwrite(std::int64_t n, std::uint8_t value, bool record)
{
    if (n < 0 || n >= size_) return false;
    EnsureWindow(n);
    std::uint8_t& byte = window_[std::size_t(n - winStart_)];
    const std::uint8_t old = byte;
    byte = value;
    dirty_ = true;
    if (record) Record({TEditKind::ByteOverwritten, n, 0, old, {}});
    return true;
}

bool TMxBinDocument::Insert(std::int64_t n, std::uint8_t value)
{
    if (n < 0 || n > size_) return false;
    EnsureWindow(n);
    // The file keeps its size until the flush: only the window and the size change.
    window_.insert(window_.begin() + (n - winStart_), value);
    ++size_;
    dirty_ = true;
    Record({TEditKind::ByteInserted, n, 1, 0, {}});
    return true;
}

bool TMxBinDocument::Delete(std::int64_t n)
{
    if (n < 0 || n >= size_) return false;
    EnsureWindow(n);
    const auto at = window_.begin() + (n - winStart_);
    const std::uint8_t old = *at;
    window_.erase(at);
    --size_;
    dirty_ = true;
    Record({TEditKind::ByteDeleted, n, 0, old, {}});
    return true;
}

void TMxBinDocument::ShiftTail(std::int64_t a, std::int64_t delta)
{
    DropWindow();
    delta = std::max(delta, -a);
    file_.Move(a, a + delta, size_ - a);
    file_.Resize(size_ + delta);
    size_ = file_.FileSize();
}

void TMxBinDocument::InsertBytes(std::int64_t a, std::string_view bytes)
{
    ShiftTail(a, std::int64_t(bytes.size()));
    file_.WriteAt(a, bytes.data(), std::int64_t(bytes.size()));
}

void TMxBinDocument::RemoveBytes(std::int64_t x, std::int64_t count) { ShiftTail(x + count, -count); }

bool TMxBinDocument::DeleteRange(std::int64_t x, std::int64_t y)
{
    if (x > y) std::swap(x, y);
    y = std::min(y, size_ - 1);
    if (x < 0 || x > y) return false;
    std::string removed = Read(x, y - x + 1);
    RemoveBytes(x, y - x + 1);
    Record({TEditKind::RangeDeleted, x, 0, 0, std::move(removed)});
    return true;
}

bool TMxBinDocument::InsertRange(std::int64_t a, std::string_view bytes)
{
    if (a < 0 || a > size_ || bytes.empty()) return false;
    InsertBytes(a, bytes);
    Record({TEditKind::RangeInserted, a, std::int64_t(bytes.size()), 0, {}});
    return true;
}

bool TMxBinDocument::ReplaceRange(std::int64_t x, std::int64_t y, std::string_view bytes)
{
    if (x > y) std::swap(x, y);
    y = std::min(y, size_ - 1);
    if (x < 0 || x > y) return false;
    if (bytes.empty()) return DeleteRange(x, y);
    std::string removed = Read(x, y - x + 1);
    const auto k = std::int64_t(bytes.size());
    ShiftTail(y + 1, k - (y - x + 1));
    file_.WriteAt(x, bytes.data(), k);
    Record({TEditKind::RangeReplaced, x, k, 0, std::move(removed)});
    return true;
}

std::int64_t TMxBinDocument::Undo()
{
    if (history_.empty()) return -1;
    const TEditRecord r = std::move(history_.back());
    history_.pop_back();
    switch (r.Kind) {
    case TEditKind::ByteOverwritten:
        EnsureWindow(r.Start);
        window_[std::size_t(r.Start - winStart_)] = r.OldByte;
        dirty_ = true;
        break;
    case TEditKind::ByteInserted:
        EnsureWindow(r.Start);
        window_.erase(window_.begin() + (r.Start - winStart_));
        --size_;
        dirty_ = true;
        break;
    case TEditKind::ByteDeleted:
        EnsureWindow(r.Start);
        window_.insert(window_.begin() + (r.Start - winStart_), r.OldByte);
        ++size_;
        dirty_ = true;
        break;
    case TEditKind::RangeDeleted:
        InsertBytes(r.Start, r.Removed);
        break;
    case TEditKind::RangeInserted:
        RemoveBytes(r.Start, r.Count);
        break;
    case TEditKind::RangeReplaced:
        ShiftTail(r.Start + r.Count, std::int64_t(r.Removed.size()) - r.Count);
        file_.WriteAt(r.Start, r.Removed.data(), std::int64_t(r.Removed.size()));
        break;
    }
    if (OnChangeUndo) OnChangeUndo(*this, history_.size());
    return r.Start;
}

}  // namespace pek
