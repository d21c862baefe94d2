#include "terminal/EditorAllCodec.h"

#include "platform/Profile.h"

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

void WriteEditorAll(ProfileFile& ini, const std::string& section, const std::string& bytes)
{
    const std::vector<std::string> lines = EncodeHexLines(bytes);
    // Lines of a longer earlier value go first, from the highest number down.
    const int oldCount = ini.ReadInteger(section, "EditorAll_c", 0);
    for (int i = oldCount - 1; i >= int(lines.size()); --i) ini.DeleteKey(section, "EditorAll_d" + std::to_string(i));
    if (lines.empty()) {
        ini.DeleteKey(section, "EditorAll_c");
        return;
    }
    ini.WriteInteger(section, "EditorAll_c", int(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) ini.WriteString(section, "EditorAll_d" + std::to_string(i), lines[i]);
}

std::string ReadEditorAll(const ProfileFile& ini, const std::string& section)
{
    if (!ini.ValueExists(section, "EditorAll_c")) return {};
    const int count = ini.ReadInteger(section, "EditorAll_c", 0);
    std::vector<std::string> lines;
    // A hand-edited count cannot make us read forever.
    for (int i = 0; i < std::min(count, 1 << 16); ++i)
        lines.push_back(ini.ReadString(section, "EditorAll_d" + std::to_string(i), ""));
    return DecodeHexLines(lines);
}

}  // namespace pek
