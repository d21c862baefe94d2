#pragma once
// What the settings file keeps of the window and its sheets. The port keys are one table that
// loading and saving both walk, so no key can be read but not written.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

class ProfileFile;
class TCommXEx;
struct TBracketItem;

// "環境": the section of the window's own settings.
const std::string& EnvSection();
// "No" + the sheet number.
std::string SheetSection(int sheet);

struct WindowSettings {
    int top = 50;
    int left = 0;
    int height = 573;
    int width = 453;
    bool echo = true;
    bool ctrlCode = true;
    bool autoColOff = false;
};
WindowSettings ReadWindowSettings(const ProfileFile& ini);
void WriteWindowSettings(ProfileFile& ini, const WindowSettings& settings);

struct PortKey {
    const char* key;
    int (*get)(const TCommXEx& port);
    void (*set)(TCommXEx& port, int value);  // may raise ECommError for a value the port refuses
    int first;                               // values outside [first, last] keep the current setting
    int last;
};
std::span<const PortKey> PortKeys();

// Applies the section's port keys to port when its ComPortOpen is set, each defaulting to the
// port's current value; a value the port refuses keeps the current one and the others still apply.
// Returns whether the section exists.
bool LoadPortSettings(const ProfileFile& ini, const std::string& section, TCommXEx& port);
// ComPortOpen, the port keys for a sheet with a port, and EditFileName.
void SavePortSettings(ProfileFile& ini, const std::string& section, const TCommXEx* port,
                      const std::string& fileName);

// How many lines a sheet's pane keeps of what arrives and is shown (0: every line). A day-long
// capture would otherwise grow the pane without end; the logs and the ring buffer are not bounded by it.
constexpr int kDefaultPaneMaxLines = 1'000'000;
int ReadPaneMaxLines(const ProfileFile& ini, const std::string& section, int fallback);
void WritePaneMaxLines(ProfileFile& ini, const std::string& section, long long maxLines);

struct HighlightSettings {
    std::string commenter;
    std::vector<TBracketItem> brackets;
    std::vector<std::string> reserveWords;
    int tabWidth = 8;
};
// ".lua" files (compared in lower case) keep their highlighting in the shared section "Lua".
bool IsLuaFile(const std::string& fileName);
std::string HighlightSection(const std::string& fileName, int sheet);
// defaultWords: the reserved words of an ordinary sheet when the file has none.
HighlightSettings ReadHighlight(const ProfileFile& ini, const std::string& fileName, int sheet,
                                const std::vector<std::string>& defaultWords);
void WriteHighlight(ProfileFile& ini, const std::string& fileName, int sheet, const HighlightSettings& settings);

}  // namespace pek
