#include "terminal/EditorAllCodec.h"

#include "platform/Profile.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace pek {

std::vector<std::string> EncodeHexLines(const std::string& bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::vector<std::string> lines;
    for (size_t i = 0; i < bytes.size(); i += 32) {
        std::string line;
        for (size_t j = i; j < std::min(bytes.size(), i + 32); ++j) {
            const auto b = static_cast<unsigned char>(bytes[j]);
            line += digits[b >> 4];
            line += digits[b & 15];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string DecodeHexLines(const std::vector<std::string>& lines)
{
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string bytes;
    for (const auto& line : lines) {
        for (size_t i = 0; i + 1 < line.size(); i += 2) {
            const int hi = value(line[i]);
            const int lo = value(line[i + 1]);
            bytes += static_cast<char>(hi < 0 || lo < 0 ? 0 : hi * 16 + lo);
        }
    }
    return bytes;
}

namespace {

// The data-line numbers present in the section, whatever EditorAll_c claims: a hand-edited count
// must not drive more reads or deletions than the file holds keys.
std::vector<int> dataLineNumbers(const ProfileFile& ini, const std::string& section)
{
    static constexpr std::string_view prefix = "editorall_d";
    std::vector<int> numbers;
    for (const auto& key : ini.ReadSectionKeys(section)) {
        if (key.size() <= prefix.size() || key.size() > prefix.size() + 10) continue;
        bool isPrefix = true;
        for (size_t i = 0; i < prefix.size(); ++i)
            isPrefix = isPrefix && (key[i] >= 'A' && key[i] <= 'Z' ? char(key[i] + 32) : key[i]) == prefix[i];
        const std::string_view digits = std::string_view(key).substr(prefix.size());
        if (!isPrefix || (digits.size() > 1 && digits.front() == '0')) continue;
        long long n = 0;
        for (const char c : digits) n = (c >= '0' && c <= '9' && n >= 0) ? n * 10 + (c - '0') : -1;
        if (n >= 0 && n <= INT32_MAX) numbers.push_back(int(n));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

}  // namespace

void WriteEditorAll(ProfileFile& ini, const std::string& section, const std::string& bytes)
{
    const std::vector<std::string> lines = EncodeHexLines(bytes);
    ProfileBatch batch(ini);
    // Lines of a longer earlier value go first, from the highest number down.
    const std::vector<int> old = dataLineNumbers(ini, section);
    for (auto n = old.rbegin(); n != old.rend() && *n >= int(lines.size()); ++n)
        ini.DeleteKey(section, "EditorAll_d" + std::to_string(*n));
    if (lines.empty()) {
        ini.DeleteKey(section, "EditorAll_c");
    } else {
        ini.WriteInteger(section, "EditorAll_c", int(lines.size()));
        for (size_t i = 0; i < lines.size(); ++i) ini.WriteString(section, "EditorAll_d" + std::to_string(i), lines[i]);
    }
    batch.Commit();
}

std::string ReadEditorAll(const ProfileFile& ini, const std::string& section)
{
    if (!ini.ValueExists(section, "EditorAll_c")) return {};
    const int count = ini.ReadInteger(section, "EditorAll_c", 0);
    // An absent line counts as empty, so reading only the lines present gives the same bytes.
    std::vector<std::string> lines;
    for (const int n : dataLineNumbers(ini, section)) {
        if (n >= count) break;
        lines.push_back(ini.ReadString(section, "EditorAll_d" + std::to_string(n), ""));
    }
    return DecodeHexLines(lines);
}

}  // namespace pek
