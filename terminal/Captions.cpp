#include "terminal/Captions.h"

#include "platform/CodePage.h"

#include <filesystem>

namespace pek {

SheetCaption CaptionOf(const std::string& fileName, std::optional<int> portNo)
{
    const std::string suffix = portNo ? "-COM" + std::to_string(*portNo) : std::string();
    const std::string stem = FileNameFromSystem(std::filesystem::path(FileNameToSystem(fileName)).stem().string());
    return {fileName + suffix, stem + suffix};
}

}  // namespace pek
