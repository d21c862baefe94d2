#include "dialogs/AsciiFormList.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Profile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace pek {

namespace {

struct Control {
    const char* name;
    const char* description;
};

constexpr Control kControls[0x20] = {
    {"NUL", "Null文字"},       {"SOH", "ヘッダ開始"},   {"STX", "テキスト開始"},
    {"ETX", "テキスト終了"},   {"EOT", "転送終了"},     {"ENQ", "照会"},
    {"ACK", "受信ＯＫ"},       {"BEL", "警告"},         {"BS", "後退"},
    {"HT", "水平タブ"},        {"LF", "改行"},          {"VT", "垂直タブ"},
    {"FF", "改頁"},            {"CR", "復帰"},          {"SO", "シフトアウト"},
    {"SI", "シフトイン"},      {"DLE", "データリンクエスケープ"},
    {"DC1", "装置制御１"},     {"DC2", "装置制御２"},   {"DC3", "装置制御３"},
    {"DC4", "装置制御４"},     {"NAK", "受信失敗"},     {"SYN", "同期"},
    {"ETB", "転送ブロック終了"}, {"CAN", "とりけし"},   {"EM", "メディア終了"},
    {"SUB", "置換"},           {"ESC", "エスケープ"},   {"FS", "フォーム区切り"},
    {"GS", "グループ区切り"},  {"RS", "レコード区切り"}, {"US", "ユニット区切り"},
};

struct Printable {
    char c;
    const char* description;
};

constexpr Printable kDescribed[] = {
    {'!', "エクスクラメーションマーク"}, {'"', "二重引用符、ダブルクォーテーション"},
    {'#', "シャープ、いげた"},           {'$', "ダラー、ドル"},
    {'%', "パーセント"},                 {'&', "アンパサンド、アンド"},
    {'\'', "引用符、シングルクォーテーション"},
    {'*', "アスタリスク"},               {'+', "プラス"},
    {',', "コンマ"},                     {'-', "マイナス"},
    {'.', "ピリオド"},                   {'/', "スラッシュ"},
    {':', "コロン"},                     {';', "セミコロン"},
    {'?', "クエスチョンマーク"},         {'@', "アットマーク"},
    {'|', "パイプ"},                     {'~', "チルダ"},
};

std::vector<std::string> MakeBuiltIn()
{
    std::vector<std::string> lines;
    lines.reserve(0x80);
    for (int c = 0; c < 0x80; ++c) {
        std::string name;
        std::string description;
        if (c < 0x20) {
            name = kControls[c].name;
            description = kControls[c].description;
        } else if (c == 0x20) {
            name = "SP";
            description = "スペース";
        } else if (c == 0x7F) {
            name = "DEL";
            description = "削除";
        } else {
            // Written so that the comma-list reading gives the character back.
            name = c == '"' ? "\"\"\"\"" : c == ',' ? "\",\"" : std::string(1, char(c));
            const auto* found = std::find_if(std::begin(kDescribed), std::end(kDescribed),
                                             [c](const Printable& p) { return p.c == char(c); });
            if (found != std::end(kDescribed)) description = found->description;
        }
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", unsigned(c));
        // BS and HT keep the extra blank that lined their descriptions up with the others.
        const char* gap = c == 0x08 || c == 0x09 ? ",  " : ", ";
        lines.push_back(Sjis(std::string(hex) + ", " + name + gap + description));
    }
    return lines;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

QString FilePath(const std::string& path)
{
    return QString::fromStdString(path);
}

}  // namespace

TAsciiLine ParseAsciiLine(std::string_view line)
{
    TAsciiLine parsed;
    parsed.Fields = FromCommaText(line);
    parsed.Code = 0;
    const std::string_view hex = parsed.Fields.empty() ? std::string_view() : parsed.Fields[0];
    if (hex.empty() || !std::all_of(hex.begin(), hex.end(), [](char c) { return HexDigit(c) >= 0; }))
        return parsed;
    unsigned value = 0;
    for (const char c : hex) {
        value = value * 16 + unsigned(HexDigit(c));
        if (value > 0xFF) {
            parsed.Code.reset();
            return parsed;
        }
    }
    parsed.Code = std::uint8_t(value);
    return parsed;
}

std::string AsciiListPath(const std::string& iniPath)
{
    const std::filesystem::path folder = std::filesystem::path(iniPath).parent_path();
    return (folder.empty() ? std::filesystem::path("ascii.txt") : folder / "ascii.txt").string();
}

TAsciiCodeList::TAsciiCodeList() : lines_(BuiltIn()) {}

const std::vector<std::string>& TAsciiCodeList::BuiltIn()
{
    static const std::vector<std::string> lines = MakeBuiltIn();
    return lines;
}

void TAsciiCodeList::LoadOrCreate(const std::string& path)
{
    const std::string shownName = FileNameFromSystem(path);
    if (QFileInfo::exists(FilePath(path))) {
        QFile file(FilePath(path));
        if (!file.open(QIODevice::ReadOnly)) throw Exception(Sjis("ファイルを開けません: ") + shownName);
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) throw Exception(Sjis("ファイルを読み込めません: ") + shownName);
        lines_ = SplitLines(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        return;
    }
    QSaveFile file(FilePath(path));
    const std::string bytes = JoinLines(lines_);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()) && file.commit();
    if (!written) throw Exception(Sjis("ファイルに書き込めません: ") + shownName);
}

std::optional<std::uint8_t> TAsciiCodeList::Code(std::ptrdiff_t index) const
{
    if (index < 0 || std::size_t(index) >= lines_.size()) return std::nullopt;
    return ParseAsciiLine(lines_[std::size_t(index)]).Code;
}

void TAsciiCodeList::Relabel(int mode)
{
    const std::size_t field = mode != 0 ? 1 : 0;
    for (const std::string& line : lines_) {
        const TAsciiLine parsed = ParseAsciiLine(line);
        if (!parsed.Code) continue;
        const auto* button = std::find(AsciiQuickCodes.begin(), AsciiQuickCodes.end(), *parsed.Code);
        if (button == AsciiQuickCodes.end()) continue;
        const auto b = std::size_t(button - AsciiQuickCodes.begin());
        if (parsed.Fields.size() >= 2) captions_[b] = parsed.Fields[field];
        if (parsed.Fields.size() >= 3) hints_[b] = parsed.Fields[2];
    }
}

std::string TAsciiCodeList::HoverText(std::size_t button) const
{
    const std::size_t code = AsciiQuickCodes.at(button);
    return code < lines_.size() ? lines_[code] : std::string();
}

std::string TAsciiCodeList::JoinLines(const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\n";
    return bytes;
}

std::vector<std::string> TAsciiCodeList::SplitLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        bytes.remove_prefix(end + 1);
    }
    return lines;
}

}  // namespace pek
