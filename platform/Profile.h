#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

// One INI file, read and written key by key with the Windows profile rules: section and key names
// compare case-insensitively (ASCII letters), values are taken as they stand (no quoting), a missing
// file, section or key gives the caller's default, a write creates the file and the section, and
// lines the call does not concern keep their bytes. Names and values are CP932 byte strings; the
// path is a file-system (UTF-8) path.
//
// The file is parsed once and kept; a call reparses it only when it changed on disk (inode, size or
// modification time), so several objects and other programs may still share one file. Every write
// replaces the file atomically (a temporary file in the same folder, flushed, then renamed over it),
// writes through a symbolic link to its target and keeps the target's permissions. One object is
// safe to use from several threads; an open ProfileBatch belongs to the object, not to a thread.
class ProfileFile {
public:
    explicit ProfileFile(std::string path);
    // A copy names the same file and starts with no cached text and no open batch.
    ProfileFile(const ProfileFile& other);
    ProfileFile& operator=(const ProfileFile&) = delete;
    ~ProfileFile();

    const std::string& Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // Decimal or "0x"/"$" hexadecimal; anything else gives the default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Throws pek::Exception for a name that could not be read back (a line break anywhere; a section
    // holding "]"; a key that is empty, holds "=", or starts with ";" or "["; a name with a blank at
    // either end or ending in a lone lead byte), or when the file cannot be read or written. A key
    // written twice in the section keeps one line: the other copies are deleted.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    std::vector<std::string> ReadSections() const;
    // Each key once, in file order.
    std::vector<std::string> ReadSectionKeys(std::string_view section) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // Both remove every copy: of the section's name, or of the key in the section.
    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);

private:
    friend class ProfileBatch;
    struct State;

    std::string path_;
    std::unique_ptr<State> state_;
};

// Holds the writes made through one ProfileFile in memory until Commit writes the file once, so a
// set of changes reaches the disk whole or not at all. While it is open, reads through the same
// object see the pending changes. A batch opened while another is open on the same object joins
// it: its Commit leaves the writing to the outer batch, and leaving it uncommitted drops only its
// own changes.
class ProfileBatch {
public:
    explicit ProfileBatch(ProfileFile& ini);
    ~ProfileBatch();  // uncommitted changes are discarded
    ProfileBatch(const ProfileBatch&) = delete;
    ProfileBatch& operator=(const ProfileBatch&) = delete;

    // Writes the file once. Throws pek::Exception when it cannot; the changes stay pending until
    // the batch ends, so a caller may retry.
    void Commit();

private:
    ProfileFile& ini_;
    bool open_ = true;
};

// Comma text of a string list: items holding blanks, commas, quotes or control characters are
// written in double quotes with inner quotes doubled; reading gives back exactly the items written.
std::string ToCommaText(const std::vector<std::string>& items);
std::vector<std::string> FromCommaText(std::string_view text);

}  // namespace pek
