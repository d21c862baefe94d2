// The settings reads the main window makes at start-up, over settings files of 0.1, 16 and 256 KB,
// with and without a hand-edited EditorAll_c far beyond the lines the file holds. "kept" is the
// profile layer as the window uses it (one object, parsed once); "fresh" opens a new object for
// every read, as a layer that reloads the file on each read would cost.
#include "bench/common/BenchSupport.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "terminal/EditorAllCodec.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

using pek::ProfileFile;
using pek::bench::Clock;

const char* const kPortKeys[] = {"ComPortNo",   "ComBitRate",    "ComBufLenRec", "ComBufLenTrans", "ComTimeOutRec",
                                 "ComTimeOutTrans", "ComDelayTrans", "ComCrTypTrans", "ComCharSize",  "ComFlowCtrl",
                                 "ComParityBit", "ComStopBit",    "ComXonChar",   "ComXoffChar",    "ComTimeTyp"};

std::string makeFile(size_t targetBytes, bool hugeCount)
{
    const std::string env = pek::Sjis("環境");
    // The smallest file: a few window keys, as after a first run with no sheet saved yet.
    if (targetBytes < 1024)
        return "[" + env + "]\r\nTop=50\r\nLeft=0\r\nHeight=573\r\nWidth=453\r\nEcho=1\r\n" +
               std::string(hugeCount ? "EditorAll_c=65536\r\n" : "") + "[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\n";
    std::string text = "[" + env + "]\r\nTop=50\r\nLeft=0\r\nHeight=573\r\nWidth=453\r\nEcho=1\r\nCtrlCode=1\r\n"
                       "AutoColOff=0\r\nInpCmd=ATZ,ATI,\"AT&F\"\r\n";
    const auto lines = pek::EncodeHexLines(std::string(360, '\x5A'));
    text += "EditorAll_c=" + std::to_string(hugeCount ? 65536 : lines.size()) + "\r\n";
    for (size_t i = 0; i < lines.size(); ++i) text += "EditorAll_d" + std::to_string(i) + "=" + lines[i] + "\r\n";
    text += "[Editor]\r\nReadOnly=1\r\n[No0]\r\nComPortOpen=1\r\nEditFileName=(x)\r\n";
    for (const char* key : kPortKeys) text += std::string(key) + "=1\r\n";
    // The rest of the size: sections start-up does not read (other features' settings).
    for (int n = 0; text.size() < targetBytes; ++n) {
        text += "[Other" + std::to_string(n) + "]\r\n";
        for (int k = 0; k < 16 && text.size() < targetBytes; ++k) text += "Key" + std::to_string(k) + "=some value\r\n";
    }
    return text;
}

// What FormCreate and LoadSheets read, in their order.
void startupReads(const std::function<const ProfileFile&()>& ini)
{
    const std::string env = pek::Sjis("環境");
    for (const char* key : {"Top", "Left", "Height", "Width"}) (void)ini().ReadInteger(env, key, 0);
    for (const char* key : {"Echo", "CtrlCode", "AutoColOff"}) (void)ini().ReadBool(env, key, false);
    (void)ini().ReadString(env, "InpCmd", "");
    if (ini().ValueExists(env, "EditorAll_c")) (void)pek::ReadEditorAll(ini(), env);
    (void)ini().ReadBool("Editor", "ReadOnly", true);
    (void)ini().ReadSections();
    for (int k = 0;; ++k) {
        const std::string section = "No" + std::to_string(k);
        (void)ini().ReadBool(section, "ComPortOpen", true);
        (void)ini().ReadString(section, "EditFileName", "");
        (void)ini().ReadBool(section, "ComPortOpen", false);
        for (const char* key : kPortKeys) (void)ini().ReadInteger(section, key, 0);
        for (const char* key : {"Cmt", "Block", "ReserveWord"}) (void)ini().ReadString(section, key, "");
        if (!ini().SectionExists("No" + std::to_string(k + 1))) break;
    }
}

double medianSeconds(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main()
{
    const std::string path = (std::filesystem::temp_directory_path() / ("pek-startup-" + std::to_string(::getpid()) + ".ini")).string();
    std::printf("%-8s %-10s %12s %12s\n", "file", "EditorAll_c", "kept (ms)", "fresh (ms)");
    for (const size_t size : {size_t(100), size_t(16) << 10, size_t(256) << 10}) {
        for (const bool huge : {false, true}) {
            {
                std::ofstream(path, std::ios::binary) << makeFile(size, huge);
            }
            const double kept = medianSeconds(9, [&] {
                const ProfileFile ini(path);
                startupReads([&]() -> const ProfileFile& { return ini; });
            });
            std::unique_ptr<ProfileFile> fresh;
            const double reloaded = medianSeconds(3, [&] {
                startupReads([&]() -> const ProfileFile& {
                    fresh = std::make_unique<ProfileFile>(path);
                    return *fresh;
                });
            });
            std::printf("%-8zu %-10s %12.3f %12.3f\n", std::filesystem::file_size(path), huge ? "65536" : "real",
                        kept * 1e3, reloaded * 1e3);
        }
    }
    std::filesystem::remove(path);
    return 0;
}
