#pragma once
// The template pane's property set is kept in the settings file as hexadecimal text, 64 digits a
// line, under EditorAll_d0, EditorAll_d1, ... and the line count under EditorAll_c.
#include <string>
#include <vector>

namespace pek {

class ProfileFile;

std::vector<std::string> EncodeHexLines(const std::string& bytes);
// A pair of digits that is not hexadecimal gives 0; an odd last digit is ignored.
std::string DecodeHexLines(const std::vector<std::string>& lines);

void WriteEditorAll(ProfileFile& ini, const std::string& section, const std::string& bytes);
// Nothing (empty) when EditorAll_c is absent.
std::string ReadEditorAll(const ProfileFile& ini, const std::string& section);

}  // namespace pek
