#include "terminal/PaneFiles.h"

#include "editor/EditorModel.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <sys/stat.h>

#include <filesystem>

namespace pek {

bool RegularFileExists(const std::string& cp932FileName)
{
    struct stat st {};
    return ::stat(FileNameToSystem(cp932FileName).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void LoadPaneFile(TEditorModel& pane, const std::string& cp932FileName)
{
    struct stat st {};
    if (::stat(FileNameToSystem(cp932FileName).c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw Exception(cp932FileName + Sjis("\r\nは通常のファイルではないため読み込めません。"));
    pane.Lines().LoadFromFile(cp932FileName);
    pane.ClearUndo();
}

void SavePaneFile(TEditorModel& pane, const std::string& cp932FileName)
{
    pane.Lines().SaveToFile(cp932FileName);
}

std::string DefaultLogName(std::time_t now)
{
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "Pek%Y%m%d_%H%M.log", &local);
    return name;
}

std::string WithLogExtension(std::string cp932FileName)
{
    if (std::filesystem::path(FileNameToSystem(cp932FileName)).extension().empty()) cp932FileName += ".log";
    return cp932FileName;
}

}  // namespace pek
