// The EditorAll codec over a hand-edited section: the hexadecimal lines round-trip, a rewrite
// reads back exactly, leaves no data line past the new count and no other key changed.
#include "FuzzSupport.h"
#include "platform/Exception.h"
#include "platform/Profile.h"
#include "terminal/EditorAllCodec.h"

#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    pek::fuzz::Input input(data, size);
    const std::string bytes = input.Bytes(300);
    const std::string file = input.Rest();
    FUZZ_CHECK(pek::DecodeHexLines(pek::EncodeHexLines(bytes)) == bytes);
    // Any text decodes to one byte per pair of characters of each line.
    size_t pairs = 0;
    for (const auto& line : pek::EncodeHexLines(file)) pairs += line.size() / 2;
    FUZZ_CHECK(pek::DecodeHexLines({file}).size() == file.size() / 2);
    FUZZ_CHECK(pairs == file.size());

    static const std::string path = pek::fuzz::ScratchFile("editorall.ini");
    std::filesystem::remove(path);
    {
        std::ofstream(path, std::ios::binary) << "[e]\r\n" << file;
    }
    pek::ProfileFile ini(path);
    pek::ReadEditorAll(ini, "e");
    std::vector<std::pair<std::string, std::string>> others;
    for (const auto& section : ini.ReadSections())
        for (const auto& key : ini.ReadSectionKeys(section)) {
            std::string folded = key;
            for (char& c : folded) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
            if (section != "e" || folded.rfind("editorall_", 0) != 0) others.push_back({section, key});
        }
    std::vector<std::string> otherValues;
    for (const auto& [s, k] : others) otherValues.push_back(ini.ReadString(s, k, ""));
    try {
        pek::WriteEditorAll(ini, "e", bytes);
    } catch (const pek::Exception&) {
        return 0;  // a name in the file the layer will not write; the file is left alone
    }
    const pek::ProfileFile fresh(path);
    FUZZ_CHECK(pek::ReadEditorAll(fresh, "e") == bytes);
    const int count = fresh.ReadInteger("e", "EditorAll_c", 0);
    FUZZ_CHECK(size_t(count) == pek::EncodeHexLines(bytes).size());
    FUZZ_CHECK(!fresh.ValueExists("e", "EditorAll_d" + std::to_string(count)));
    for (size_t i = 0; i < others.size(); ++i)
        FUZZ_CHECK(fresh.ReadString(others[i].first, others[i].second, "\x01") == otherValues[i]);
    return 0;
}
