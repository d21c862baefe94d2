#pragma once
// File names of debugger source tabs (code page 932, like every file name the program handles).
#include <functional>
#include <string>
#include <string_view>

namespace pek {

// The absolute, normalised form of the name; empty stays empty (an untitled tab).
std::string FullSourcePath(std::string_view name);
bool SourceFileExists(const std::string& name);
// The name cut from the left, a directory at a time, until width(text) <= maxWidth:
// /a/b/file.lua, /.../b/file.lua, /.../file.lua, .../file.lua, file.lua.
std::string ShortenFileName(const std::string& name, int maxWidth, const std::function<int(const std::string&)>& width);

}  // namespace pek
