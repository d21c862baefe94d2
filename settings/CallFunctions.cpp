#include "settings/CallFunctions.h"

#include "platform/Profile.h"
#include "terminal/SheetSettings.h"

namespace pek {

std::vector<CallEntry> ParseCallFnc(std::string_view stored)
{
    std::vector<CallEntry> entries;
    for (const std::string& text : FromCommaText(stored)) {
        const std::vector<std::string> fields = FromCommaText(text);
        if (fields.empty()) continue;
        entries.push_back({fields[0], fields.size() > 1 ? fields[1] : std::string()});
    }
    return entries;
}

std::string FormatCallFnc(const std::vector<CallEntry>& entries)
{
    std::vector<std::string> texts;
    texts.reserve(entries.size());
    for (const CallEntry& e : entries) texts.push_back(ToCommaText({e.title, e.command}));
    return ToCommaText(texts);
}

std::vector<CallEntry> LoadCallFunctions(const ProfileFile& ini)
{
    return ParseCallFnc(ini.ReadString(EnvSection(), "CallFnc", ""));
}

void StoreCallFunctions(ProfileFile& ini, const std::vector<CallEntry>& entries)
{
    ini.WriteString(EnvSection(), "CallFnc", FormatCallFnc(entries));
}

}  // namespace pek
