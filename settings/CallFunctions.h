#pragma once
// The user's call functions: named command lines kept in the settings file, section "環境", key
// CallFnc. Each entry is the comma text of its title and command; the key holds the comma text
// of those entry texts (comma text inside comma text), so every entry is written quoted.
#include <string>
#include <string_view>
#include <vector>

namespace pek {

class ProfileFile;

struct CallEntry {
    std::string title;
    std::string command;
    bool operator==(const CallEntry&) const = default;
};

// The stored value is parsed as it stands: the profile reader leaves quotes in place, so no
// quotes are added around it first. An entry text that holds no field is skipped.
std::vector<CallEntry> ParseCallFnc(std::string_view stored);
std::string FormatCallFnc(const std::vector<CallEntry>& entries);

std::vector<CallEntry> LoadCallFunctions(const ProfileFile& ini);
void StoreCallFunctions(ProfileFile& ini, const std::vector<CallEntry>& entries);

}  // namespace pek
