#include "terminal/SheetSettings.h"

#include "editor/Highlighter.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace pek {

const std::string& EnvSection()
{
    static const std::string text = Sjis("環境");
    return text;
}

std::string SheetSection(int sheet)
{
    return "No" + std::to_string(sheet);
}

WindowSettings ReadWindowSettings(const ProfileFile& ini)
{
    const WindowSettings defaults;
    const std::string& env = EnvSection();
    WindowSettings s;
    s.top = ini.ReadInteger(env, "Top", defaults.top);
    s.left = ini.ReadInteger(env, "Left", defaults.left);
    s.height = ini.ReadInteger(env, "Height", defaults.height);
    s.width = ini.ReadInteger(env, "Width", defaults.width);
    s.echo = ini.ReadBool(env, "Echo", defaults.echo);
    s.ctrlCode = ini.ReadBool(env, "CtrlCode", defaults.ctrlCode);
    s.autoColOff = ini.ReadBool(env, "AutoColOff", defaults.autoColOff);
    return s;
}

void WriteWindowSettings(ProfileFile& ini, const WindowSettings& s)
{
    const std::string& env = EnvSection();
    ini.WriteInteger(env, "Top", s.top);
    ini.WriteInteger(env, "Left", s.left);
    ini.WriteInteger(env, "Height", s.height);
    ini.WriteInteger(env, "Width", s.width);
    ini.WriteBool(env, "Echo", s.echo);
    ini.WriteBool(env, "CtrlCode", s.ctrlCode);
    ini.WriteBool(env, "AutoColOff", s.autoColOff);
}

namespace {

constexpr int kAny = INT_MIN;
constexpr int kAll = INT_MAX;

// In the order the keys are read: the port number first, the time-stamp type last.
const std::array<PortKey, 16> kPortKeys{{
    {"ComPortNo", [](const TCommXEx& p) { return int(p.PortNo()); }, [](TCommXEx& p, int v) { p.SetPortNo(v); }, kAny, kAll},
    {"ComBitRate", [](const TCommXEx& p) { return int(p.BitRate()); }, [](TCommXEx& p, int v) { p.SetBitRate(v); }, kAny, kAll},
    {"ComBufLenRec", [](const TCommXEx& p) { return int(p.BufLenReceive()); },
     [](TCommXEx& p, int v) { p.SetBufLenReceive(v); }, kAny, kAll},
    {"ComBufLenTrans", [](const TCommXEx& p) { return int(p.BufLenTrans()); },
     [](TCommXEx& p, int v) { p.SetBufLenTrans(v); }, kAny, kAll},
    {"ComTimeOutRec", [](const TCommXEx& p) { return int(p.TimeOutReceive()); },
     [](TCommXEx& p, int v) { p.SetTimeOutReceive(v); }, kAny, kAll},
    {"ComTimeOutTrans", [](const TCommXEx& p) { return int(p.TimeOutTrans()); },
     [](TCommXEx& p, int v) { p.SetTimeOutTrans(v); }, kAny, kAll},
    {"ComDelayTrans", [](const TCommXEx& p) { return int(p.DelayTrans()); },
     [](TCommXEx& p, int v) { p.SetDelayTrans(v); }, 0, TCustomCommX::MaxDelayTrans},
    {"ComCrTypTrans", [](const TCommXEx& p) { return int(p.CrTypTrans()); },
     [](TCommXEx& p, int v) { p.SetCrTypTrans(TCrTyp(v)); }, ctNone, ctLf},
    {"ComCharSize", [](const TCommXEx& p) { return int(p.CharSize()); }, [](TCommXEx& p, int v) { p.SetCharSize(v); }, kAny, kAll},
    {"ComFlowCtrl", [](const TCommXEx& p) { return int(p.FlowCtrl()); },
     [](TCommXEx& p, int v) { p.SetFlowCtrl(TCommFlowCtrls(v)); }, cfcRtsCts, cfcNone},
    {"ComParityBit", [](const TCommXEx& p) { return int(p.ParityBit()); },
     [](TCommXEx& p, int v) { p.SetParityBit(TCommParityBits(v)); }, cpbNone, cpbEven},
    {"ComStopBit", [](const TCommXEx& p) { return int(p.StopBit()); },
     [](TCommXEx& p, int v) { p.SetStopBit(TCommStopBits(v)); }, csb1, csb2},
    {"ComXonChar", [](const TCommXEx& p) { return int(static_cast<unsigned char>(p.XonChar())); },
     [](TCommXEx& p, int v) { p.SetXonChar(char(v)); }, 0, 255},
    {"ComXoffChar", [](const TCommXEx& p) { return int(static_cast<unsigned char>(p.XoffChar())); },
     [](TCommXEx& p, int v) { p.SetXoffChar(char(v)); }, 0, 255},
    {"ComTimeTyp", [](const TCommXEx& p) { return int(p.TimeTyp()); },
     [](TCommXEx& p, int v) { p.SetTimeTyp(std::uint8_t(v)); }, 0, 255},
    {"ComCharCode", [](const TCommXEx& p) { return int(p.CharCode()); },
     [](TCommXEx& p, int v) { p.SetCharCode(TCommXEx::TCharCode(v)); }, TCommXEx::ccCp932, TCommXEx::ccUtf8},
}};

}  // namespace

std::span<const PortKey> PortKeys()
{
    return kPortKeys;
}

bool LoadPortSettings(const ProfileFile& ini, const std::string& section, TCommXEx& port)
{
    if (ini.ReadBool(section, "ComPortOpen", false)) {
        for (const PortKey& key : kPortKeys) {
            const int current = key.get(port);
            const int value = ini.ReadInteger(section, key.key, current);
            if (value < key.first || value > key.last) continue;  // a hand-edited file
            try {
                key.set(port, value);
            } catch (const ECommError&) {
            }
        }
    }
    return ini.SectionExists(section);
}

void SavePortSettings(ProfileFile& ini, const std::string& section, const TCommXEx* port, const std::string& fileName)
{
    ini.WriteBool(section, "ComPortOpen", port != nullptr);
    if (port)
        for (const PortKey& key : kPortKeys) ini.WriteInteger(section, key.key, key.get(*port));
    ini.WriteString(section, "EditFileName", fileName);
}

int ReadPaneMaxLines(const ProfileFile& ini, const std::string& section, int fallback)
{
    const int value = ini.ReadInteger(section, "MaxLines", fallback);
    return value >= 0 ? value : fallback;
}

void WritePaneMaxLines(ProfileFile& ini, const std::string& section, long long maxLines)
{
    ini.WriteInteger(section, "MaxLines", int(std::clamp<long long>(maxLines, 0, INT_MAX)));
}

bool IsLuaFile(const std::string& fileName)
{
    std::string ext = std::filesystem::path(fileName).extension().string();
    for (auto& c : ext)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return ext == ".lua";
}

std::string HighlightSection(const std::string& fileName, int sheet)
{
    return IsLuaFile(fileName) ? "Lua" : SheetSection(sheet);
}

HighlightSettings ReadHighlight(const ProfileFile& ini, const std::string& fileName, int sheet,
                                const std::vector<std::string>& defaultWords)
{
    const bool lua = IsLuaFile(fileName);
    const std::string section = HighlightSection(fileName, sheet);
    HighlightSettings s;
    s.commenter = ini.ReadString(section, "Cmt", lua ? "--" : "");
    const std::string luaBlocks = ToCommaText({"--[", "]", "65280", "\"", "\"", "16776960", "'", "'", "16776960"});
    const std::vector<std::string> block = FromCommaText(ini.ReadString(section, "Block", lua ? luaBlocks : ""));
    for (size_t i = 0; i + 2 < block.size(); i += 3) {
        const unsigned long colour = std::strtoul(block[i + 2].c_str(), nullptr, 10);
        s.brackets.push_back({block[i], block[i + 1], static_cast<std::uint32_t>(colour)});
    }
    const std::string luaWords =
        "and,break,do,else,elseif,end,false,for,function,if,in,local,nil,not,or,repeat,return,then,true,until,while";
    s.reserveWords = FromCommaText(ini.ReadString(section, "ReserveWord", lua ? luaWords : ToCommaText(defaultWords)));
    s.tabWidth = lua ? 4 : 8;
    return s;
}

void WriteHighlight(ProfileFile& ini, const std::string& fileName, int sheet, const HighlightSettings& s)
{
    const std::string section = HighlightSection(fileName, sheet);
    ini.WriteString(section, "Cmt", s.commenter);
    if (!s.brackets.empty()) {
        std::vector<std::string> block;
        for (const auto& item : s.brackets) {
            block.push_back(item.LeftBracket);
            block.push_back(item.RightBracket);
            block.push_back(std::to_string(item.Color));
        }
        ini.WriteString(section, "Block", ToCommaText(block));
    }
    ini.WriteString(section, "ReserveWord", ToCommaText(s.reserveWords));
}

}  // namespace pek
