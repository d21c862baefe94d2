#pragma once
// The bytes of a binary editor grid: a backing file with a window of it in memory, so content of
// any size costs one window of memory, and the history of the edits made to it.
#include "scriptgui/BackingFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

class TMxBinDocument {
public:
    static constexpr std::int64_t WindowSize = 0x8000;

    enum class TEditKind { ByteOverwritten = 0, ByteInserted, ByteDeleted, RangeDeleted, RangeInserted, RangeReplaced };
    struct TEditRecord {
        TEditKind Kind;
        std::int64_t Start = 0;
        std::int64_t Count = 0;  // bytes a range edit put in
        std::uint8_t OldByte = 0;
        std::string Removed;
    };

    TMxBinDocument();  // empty; Exception when no backing file can be made

    // Replaces the content. The old content stays until the new backing file is complete, so a
    // failure (an Exception) leaves the document as it was.
    void Load(const void* bytes, std::int64_t count);
    // Copies up to count bytes from offset 0; the number copied (less than count when the content
    // is shorter; the rest of the buffer is left alone).
    std::int64_t Store(void* buffer, std::int64_t count, bool keepHistory);

    std::int64_t Size() const { return size_; }
    std::uint8_t At(std::int64_t n);  // 0 <= n < Size()
    std::string Read(std::int64_t offset, std::int64_t count);

    // Edits, each recorded. Offsets out of range are refused (false).
    bool Overwrite(std::int64_t n, std::uint8_t value, bool record = true);
    bool Insert(std::int64_t n, std::uint8_t value);
    bool Delete(std::int64_t n);
    bool DeleteRange(std::int64_t x, std::int64_t y);
    bool InsertRange(std::int64_t a, std::string_view bytes);
    // y is clamped to Size() - 1; an empty replacement is a deletion.
    bool ReplaceRange(std::int64_t x, std::int64_t y, std::string_view bytes);

    // Reverses the last edit; the offset the cursor goes to, or -1 when there was none.
    std::int64_t Undo();
    std::size_t UndoCount() const { return history_.size(); }
    const std::vector<TEditRecord>& History() const { return history_; }

    // Writes the window back into the backing file; the file then holds exactly the content.
    void Flush();
    // The window's start, -1 when there is none (for tests and benches).
    std::int64_t WindowStart() const { return winStart_; }

    std::function<void(TMxBinDocument& sender, std::size_t undoCount)> OnChangeUndo;

private:
    void EnsureWindow(std::int64_t n);
    void DropWindow();
    void ShiftTail(std::int64_t a, std::int64_t delta);
    void Record(TEditRecord record);
    std::string ReadFile(std::int64_t offset, std::int64_t count);
    void InsertBytes(std::int64_t a, std::string_view bytes);
    void RemoveBytes(std::int64_t x, std::int64_t count);

    TBackingFile file_;
    std::int64_t size_ = 0;
    std::int64_t winStart_ = -1;
    std::int64_t winFileLength_ = 0;  // the bytes of the file the window was read from
    std::vector<std::uint8_t> window_;
    bool dirty_ = false;
    std::vector<TEditRecord> history_;
};

}  // namespace pek
