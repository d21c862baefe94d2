#include "terminal/HexText.h"

#include <algorithm>
#include <cstdio>

namespace pek {

std::string HexLines::FormatLine(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(kBytesPerLine * 4 + 1);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        line += digits[b >> 4];
        line += digits[b & 15];
        line += ' ';
    }
    // The character column stays in place while a line fills up.
    line.append(size_t(kBytesPerLine - static_cast<int>(bytes.size())) * 3 + 1, ' ');
    for (const char c : bytes) line += c >= 0x20 && c < 0x7F ? c : '.';
    return line;
}

HexLines::Update HexLines::Add(std::string_view bytes, const Stamp& stamp)
{
    Update update;
    if (bytes.empty()) return update;
    update.erase = shown_;
    while (!bytes.empty()) {
        if (bytes_.empty()) prefix_ = stamp();
        const size_t take = std::min(bytes.size(), size_t(kBytesPerLine) - bytes_.size());
        bytes_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (bytes_.size() == size_t(kBytesPerLine)) {
            const std::string line = prefix_ + FormatLine(bytes_) + "\r\n";
            update.append += line;
            update.completed += line;
            bytes_.clear();
        }
    }
    shown_ = 0;
    if (!bytes_.empty()) {
        const std::string open = prefix_ + FormatLine(bytes_);
        update.append += open;
        shown_ = open.size();
    }
    return update;
}

void HexLines::Merge(Update& into, Update&& next)
{
    const size_t takenBack = std::min(next.erase, into.append.size());
    into.append.resize(into.append.size() - takenBack);
    into.erase += next.erase - takenBack;
    into.append += next.append;
    into.completed += next.completed;
}

HexLines::Update HexLines::Break()
{
    Update update;
    if (bytes_.empty()) return update;
    update.completed = prefix_ + FormatLine(bytes_) + "\r\n";
    update.append = "\r\n";
    bytes_.clear();
    shown_ = 0;
    return update;
}

std::optional<std::string> ParseHexBytes(std::string_view text, std::string* error)
{
    const auto fail = [&](std::string why) -> std::optional<std::string> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string bytes;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == ',') {
            ++i;
            continue;
        }
        const int high = digit(c);
        if (high < 0) return fail(std::to_string(i + 1) + "文字目が16進数字ではありません");
        if (i + 1 >= text.size() || digit(text[i + 1]) < 0)
            return fail(std::to_string(i + 1) + "文字目からの16進数字が2桁ではありません");
        bytes += static_cast<char>(high * 16 + digit(text[i + 1]));
        i += 2;
    }
    if (bytes.empty()) return fail("送信するバイトがありません");
    return bytes;
}

}  // namespace pek
