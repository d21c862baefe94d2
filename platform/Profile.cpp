#include "platform/Profile.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pek {

namespace {

// The file as lines, each with its own line break kept so untouched lines are written back as they were.
struct ProfileText {
    std::vector<std::string> lines;  // each includes its terminator ("\r\n", "\n" or none for the last)
    std::string newline = "\r\n";
};

ProfileText load(const std::string& path)
{
    ProfileText text;
    std::ifstream in(path, std::ios::binary);
    if (!in) return text;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t lf = bytes.find('\n', start);
        const size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        text.lines.emplace_back(bytes, start, end - start);
        start = end;
    }
    const size_t firstLf = bytes.find('\n');
    if (firstLf != std::string::npos && (firstLf == 0 || bytes[firstLf - 1] != '\r')) text.newline = "\n";
    return text;
}

void save(const std::string& path, const ProfileText& text)
{
    std::string bytes;
    for (const auto& line : text.lines) bytes += line;
    // Write beside the file and rename, so a crash mid-write never leaves half a settings file.
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            throw Exception(Sjis("設定ファイルに書き込めません: ") + FileNameFromSystem(path));
        }
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::filesystem::remove(temp, error);
        throw Exception(Sjis("設定ファイルに書き込めません: ") + FileNameFromSystem(path));
    }
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

std::string_view body(const std::string& line)
{
    std::string_view s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Compares names ignoring the case of ASCII letters, never folding the trail byte of a
// double-byte character (those lie in the letter range too).
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (IsDBCSLeadByte(ca)) {
            if (ca != cb || i + 1 >= a.size() || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        const auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
        if (fold(ca) != fold(cb)) return false;
    }
    return true;
}

// The section name of a "[name]" line, or nullopt-like false.
bool sectionHeader(std::string_view line, std::string_view& name)
{
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return false;
    const size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

bool keyLine(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') return false;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return !key.empty();
}

// Index range [begin, end) of the body lines of the first section of that name; begin is npos when absent.
struct SectionRange {
    size_t header = std::string::npos;
    size_t end = 0;
};

SectionRange findSection(const ProfileText& text, std::string_view section)
{
    SectionRange range;
    for (size_t i = 0; i < text.lines.size(); ++i) {
        std::string_view name;
        if (!sectionHeader(body(text.lines[i]), name)) continue;
        if (range.header != std::string::npos) {
            range.end = i;
            return range;
        }
        if (sameName(name, section)) range.header = i;
    }
    range.end = text.lines.size();
    return range;
}

size_t findKey(const ProfileText& text, const SectionRange& range, std::string_view key)
{
    if (range.header == std::string::npos) return std::string::npos;
    for (size_t i = range.header + 1; i < range.end; ++i) {
        std::string_view k, v;
        if (keyLine(body(text.lines[i]), k, v) && sameName(k, key)) return i;
    }
    return std::string::npos;
}

bool parseInteger(std::string_view s, int& out)
{
    s = trim(s);
    if (s.empty()) return false;
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    long long value = 0;
    for (const char c : s) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        value = value * base + digit;
        // Hexadecimal may spell the full 32-bit pattern (colours are written so).
        if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
    }
    if (base == 16) value = static_cast<int32_t>(static_cast<uint32_t>(value));
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    out = static_cast<int>(value);
    return true;
}

std::string ensureEnding(const std::string& newline, std::string line)
{
    return line + newline;
}

}  // namespace

std::string ProfileFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const
{
    const ProfileText text = load(path_);
    const size_t i = findKey(text, findSection(text, section), key);
    if (i == std::string::npos) return std::string(defaultValue);
    std::string_view k, v;
    keyLine(body(text.lines[i]), k, v);
    return std::string(v);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const
{
    int value = 0;
    return parseInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    // A line break would end the line early and let the rest read as keys or sections of its own.
    const auto hasBreak = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
    if (hasBreak(section) || hasBreak(key) || hasBreak(value))
        throw Exception(Sjis("設定ファイルに改行を含む値は書き込めません: ") + std::string(key));
    ProfileText text = load(path_);
    const SectionRange range = findSection(text, section);
    const std::string line = std::string(key) + "=" + std::string(value);
    if (range.header == std::string::npos) {
        if (!text.lines.empty()) {
            std::string& last = text.lines.back();
            if (last.empty() || last.back() != '\n') last += text.newline;
        }
        text.lines.push_back(ensureEnding(text.newline, "[" + std::string(section) + "]"));
        text.lines.push_back(ensureEnding(text.newline, line));
    } else if (const size_t i = findKey(text, range, key); i != std::string::npos) {
        const std::string& old = text.lines[i];
        const std::string ending = old.substr(body(old).size());
        text.lines[i] = line + (ending.empty() ? std::string() : ending);
    } else {
        // After the section's last non-blank line, so blank separators stay between sections.
        size_t at = range.end;
        while (at > range.header + 1 && trim(body(text.lines[at - 1])).empty()) --at;
        std::string& previous = text.lines[at - 1];
        if (previous.empty() || previous.back() != '\n') previous += text.newline;
        text.lines.insert(text.lines.begin() + std::ptrdiff_t(at), ensureEnding(text.newline, line));
    }
    save(path_, text);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

std::vector<std::string> ProfileFile::ReadSections() const
{
    std::vector<std::string> names;
    for (const auto& line : load(path_).lines) {
        std::string_view name;
        if (!sectionHeader(body(line), name)) continue;
        bool seen = false;
        for (const auto& n : names) seen = seen || sameName(n, name);
        if (!seen) names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> ProfileFile::ReadSectionKeys(std::string_view section) const
{
    const ProfileText text = load(path_);
    const SectionRange range = findSection(text, section);
    std::vector<std::string> keys;
    if (range.header == std::string::npos) return keys;
    for (size_t i = range.header + 1; i < range.end; ++i) {
        std::string_view k, v;
        if (keyLine(body(text.lines[i]), k, v)) keys.emplace_back(k);
    }
    return keys;
}

bool ProfileFile::SectionExists(std::string_view section) const
{
    return findSection(load(path_), section).header != std::string::npos;
}

bool ProfileFile::ValueExists(std::string_view section, std::string_view key) const
{
    const ProfileText text = load(path_);
    return findKey(text, findSection(text, section), key) != std::string::npos;
}

void ProfileFile::EraseSection(std::string_view section)
{
    ProfileText text = load(path_);
    const SectionRange range = findSection(text, section);
    if (range.header == std::string::npos) return;
    text.lines.erase(text.lines.begin() + std::ptrdiff_t(range.header), text.lines.begin() + std::ptrdiff_t(range.end));
    save(path_, text);
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key)
{
    ProfileText text = load(path_);
    const size_t i = findKey(text, findSection(text, section), key);
    if (i == std::string::npos) return;
    text.lines.erase(text.lines.begin() + std::ptrdiff_t(i));
    save(path_, text);
}

std::string ToCommaText(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t n = 0; n < items.size(); ++n) {
        if (n > 0) text += ',';
        const std::string& item = items[n];
        bool quote = item.empty();
        for (const char c : item) quote = quote || static_cast<unsigned char>(c) <= ' ' || c == '"' || c == ',';
        if (!quote) {
            text += item;
            continue;
        }
        text += '"';
        for (const char c : item) {
            if (c == '"') text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> FromCommaText(std::string_view text)
{
    std::vector<std::string> items;
    size_t p = 0;
    const auto blank = [&](size_t i) { return i < text.size() && static_cast<unsigned char>(text[i]) <= ' '; };
    while (blank(p)) ++p;
    while (p < text.size()) {
        std::string item;
        if (text[p] == '"') {
            ++p;
            while (p < text.size()) {
                if (text[p] == '"') {
                    if (p + 1 < text.size() && text[p + 1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            while (p < text.size() && !blank(p) && text[p] != ',') item += text[p++];
        }
        items.push_back(std::move(item));
        while (blank(p)) ++p;
        if (p < text.size() && text[p] == ',') {
            ++p;
            if (p == text.size()) items.emplace_back();
            while (blank(p)) ++p;
        }
    }
    return items;
}

}  // namespace pek
