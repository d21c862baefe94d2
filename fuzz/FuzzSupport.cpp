#include "FuzzSupport.h"

#include <unistd.h>

#include <filesystem>

namespace pek::fuzz {

std::string ScratchFile(const char* name)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path folder = base / ("pek-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(folder, error);
    return (folder / name).string();
}

}  // namespace pek::fuzz
