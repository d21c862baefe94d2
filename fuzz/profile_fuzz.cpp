// The settings file: whatever the file holds, every key reads, one write changes that key alone,
// and a refused write leaves the file as it was.
#include "FuzzSupport.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Profile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace {

using Values = std::map<std::pair<std::string, std::string>, std::string>;

Values readAll(const pek::ProfileFile& ini, std::vector<std::string>& sections)
{
    Values values;
    sections = ini.ReadSections();
    for (const auto& s : sections)
        for (const auto& k : ini.ReadSectionKeys(s)) {
            FUZZ_CHECK(ini.ValueExists(s, k));
            values[{s, k}] = ini.ReadString(s, k, "");
        }
    return values;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    pek::fuzz::Input input(data, size);
    const unsigned sectionChoice = input.Byte(), keyChoice = input.Byte(), mode = input.Byte();
    const std::string value = input.Bytes(16);
    const std::string file = input.Rest();
    static const std::string path = pek::fuzz::ScratchFile("profile.ini");
    std::filesystem::remove(path);
    {
        std::ofstream(path, std::ios::binary) << file;
    }

    std::vector<std::string> sections;
    const Values before = readAll(pek::ProfileFile(path), sections);
    // A section and key of the file, or new names when the choice lies past them.
    const std::string section = sectionChoice < sections.size() ? sections[sectionChoice] : "Fuzz" + std::to_string(sectionChoice);
    std::vector<std::string> keys = pek::ProfileFile(path).ReadSectionKeys(section);
    const std::string key = keyChoice < keys.size() ? keys[keyChoice] : "Key" + std::to_string(keyChoice);
    const bool erase = (mode & 1) != 0 && sectionChoice + 1 < sections.size();
    const std::string erased = erase ? sections[sectionChoice + 1] : "";

    pek::ProfileFile ini(path);
    try {
        std::optional<pek::ProfileBatch> batch;
        if (mode & 2) batch.emplace(ini);
        if (erase) ini.EraseSection(erased);
        ini.WriteString(section, key, value);
        if (batch) batch->Commit();
    } catch (const pek::Exception&) {
        // Refused: nothing written, unless the erasure before it was a write of its own.
        FUZZ_CHECK(fileBytes(path) == file || (erase && !(mode & 2)));
        return 0;
    }

    std::vector<std::string> sectionsAfter;
    const pek::ProfileFile fresh(path);
    const Values after = readAll(fresh, sectionsAfter);
    const auto fold = [](std::string s) {
        // The names compared here come from the file; folding every letter is enough to tell
        // the written and erased names from the others.
        for (size_t i = 0; i < s.size(); ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (pek::IsDBCSLeadByte(c)) ++i;
            else if (c >= 'A' && c <= 'Z') s[i] = char(c + 32);
        }
        return s;
    };
    // Values are read without the blanks around them.
    std::string_view trimmed = value;
    while (!trimmed.empty() && static_cast<unsigned char>(trimmed.front()) <= ' ') trimmed.remove_prefix(1);
    while (!trimmed.empty() && static_cast<unsigned char>(trimmed.back()) <= ' ') trimmed.remove_suffix(1);
    FUZZ_CHECK(fresh.ReadString(section, key, "\x01") == trimmed);
    for (const auto& [name, v] : before) {
        const bool written = fold(name.first) == fold(section) && fold(name.second) == fold(key);
        const bool gone = erase && fold(name.first) == fold(erased);
        if (written) continue;
        if (gone) {
            FUZZ_CHECK(!fresh.SectionExists(erased));
            continue;
        }
        const auto it = after.find(name);
        FUZZ_CHECK(it != after.end() && it->second == v);
    }
    // A file read back as written: one more write of the same value changes no byte.
    const std::string written = fileBytes(path);
    pek::ProfileFile(path).WriteString(section, key, value);
    FUZZ_CHECK(fileBytes(path) == written);
    return 0;
}
