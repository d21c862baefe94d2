#include "debugger/SourceFiles.h"

#include "platform/CodePage.h"

#include <filesystem>
#include <system_error>

namespace pek {

std::string FullSourcePath(std::string_view name)
{
    if (name.empty()) return {};
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(FileNameToSystem(name), error);
    if (error) return std::string(name);
    return FileNameFromSystem(path.lexically_normal().string());
}

bool SourceFileExists(const std::string& name)
{
    if (name.empty()) return false;
    std::error_code error;
    return std::filesystem::is_regular_file(FileNameToSystem(name), error);
}

std::string ShortenFileName(const std::string& name, int maxWidth, const std::function<int(const std::string&)>& width)
{
    const std::size_t slash = name.rfind('/');
    std::string directory = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string text = name;
    while (width(text) > maxWidth && !directory.empty()) {
        if (directory == "/.../") {
            directory = ".../";
        } else {
            const bool rooted = directory.front() == '/';
            std::string rest = rooted ? directory.substr(1) : directory;
            if (rest.starts_with(".../")) rest.erase(0, 4);
            const std::size_t next = rest.find('/');
            directory = next == std::string::npos ? "" : (rooted ? "/.../" : ".../") + rest.substr(next + 1);
        }
        text = directory + file;
    }
    return text;
}

}  // namespace pek
