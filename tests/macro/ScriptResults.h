#pragma once
// Scripts that gather their results with say(...) and E(f, ...) and show them at their end.
#include <algorithm>
#include <string>

namespace pek::test {

inline const char* const ScriptResults = R"(
local out = {}
local function say(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  out[#out + 1] = table.concat(t, ' ')
end
-- The error of a call, without the place it was raised at.
local function E(f, ...) local ok, e = pcall(f, ...) return ok and 'no error' or (tostring(e):gsub('^.-:%d+: ', '')) end
)";

// Pane text with its CR LF line breaks read as LF.
inline std::string WithoutCr(std::string text)
{
    std::erase(text, '\r');
    return text;
}

}  // namespace pek::test
