// Settings dialog OK on a sheet whose pane holds 50 MB: what it costs when the layout stays as it
// was (nothing changed, or only colours), against a change of the wrap width that re-lays it out.
#include "bench/common/BenchSupport.h"
#include "editor/EditorEx.h"
#include "settings/ColorBox.h"
#include "settings/Settings.h"
#include "settings/setting_u.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using pek::bench::Clock;

double TimeOk(pek::TSettingForm& form, const std::function<void(pek::TSettingForm&)>& change)
{
    form.FormShow();
    change(form);
    const auto start = Clock::now();
    const bool ok = form.OkBtnClick();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "OK was refused\n");
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / std::string("pek-settings-bench-").append(std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const std::string ini = (dir / "pek.ini").string();
    std::ofstream(ini) << "[No0]\r\nComPortOpen=0\r\n";
    {
        pek::TPekForm window(ini);
        window.LoadSheets();
        window.resize(800, 600);
        window.show();
        pek::TEditorEx& pane = *window.SheetPane(0);
        std::string line;
        for (int i = 0; i < 99; ++i) line += char('!' + i % 90);
        line += "\r\n";
        std::string text;
        constexpr std::size_t kSize = 50u << 20;
        text.reserve(kSize + line.size());
        while (text.size() < kSize) text += line;
        const auto loadStart = Clock::now();
        pane.SetText(text);
        QCoreApplication::processEvents();
        std::printf("pane: %.1f MB, %lld lines, loaded in %.2f s\n", text.size() / 1e6, pane.LineCount(),
                    std::chrono::duration<double>(Clock::now() - loadStart).count());
        const auto settings = pek::AttachSettings(window);
        pek::TSettingForm& form = *settings->SettingForm();

        std::printf("OK, nothing changed:      %.4f s\n", TimeOk(form, [](pek::TSettingForm&) {}));
        std::printf("OK, colours changed:      %.4f s\n", TimeOk(form, [](pek::TSettingForm& f) {
            f.BkColorBox->SetColor(f.BkColorBox->Color() ^ 0x101010);
            f.ColorRows[1].on->setChecked(!f.ColorRows[1].on->isChecked());
        }));
        std::printf("OK, nothing changed:      %.4f s\n", TimeOk(form, [](pek::TSettingForm&) {}));
        std::printf("OK, wrap width changed:   %.4f s (re-lays the text out)\n",
                    TimeOk(form, [](pek::TSettingForm& f) { f.WrapByteSEdit->setValue(f.WrapByteSEdit->value() + 20); }));
    }
    std::filesystem::remove_all(dir);
    return 0;
}
