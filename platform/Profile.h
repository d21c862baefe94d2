#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace pek {

// One INI file, read and written key by key with the Windows profile rules: section and key names
// compare case-insensitively (ASCII letters), values are taken as they stand (no quoting), a missing
// file, section or key gives the caller's default, a write creates the file and the section, and
// lines the call does not concern keep their bytes. Names and values are CP932 byte strings; the
// path is a file-system (UTF-8) path. Every call reads the file afresh, so several objects and
// other programs may share one file.
class ProfileFile {
public:
    explicit ProfileFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // Decimal or "0x"/"$" hexadecimal; anything else gives the default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Throws pek::Exception for a line break in the section, key or value, or when the file
    // cannot be written.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSectionKeys(std::string_view section) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);

private:
    std::string path_;
};

// Comma text of a string list: items holding blanks, commas, quotes or control characters are
// written in double quotes with inner quotes doubled; reading gives back exactly the items written.
std::string ToCommaText(const std::vector<std::string>& items);
std::vector<std::string> FromCommaText(std::string_view text);

}  // namespace pek
