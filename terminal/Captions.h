#pragma once
// Window and tab captions of a sheet (CP932): the file name, and "-COM" + the port number for a
// sheet with a port. The tab shows the name without folder and extension.
#include <optional>
#include <string>

namespace pek {

struct SheetCaption {
    std::string window;
    std::string tab;
};

SheetCaption CaptionOf(const std::string& fileName, std::optional<int> portNo);

}  // namespace pek
