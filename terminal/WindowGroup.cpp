#include "terminal/WindowGroup.h"

#include "platform/Profile.h"
#include "terminal/main_u.h"

namespace pek {

WindowGroup::WindowGroup(std::string iniPath)
    : iniPath_(std::move(iniPath)), ini_(std::make_unique<ProfileFile>(iniPath_))
{
}

WindowGroup::~WindowGroup() = default;

void WindowGroup::SetMain(TPekForm& main)
{
    main_ = &main;
}

TPekForm* WindowGroup::Main() const
{
    return main_.data();
}

void WindowGroup::AddShadow(TPekForm& shadow)
{
    shadows_.emplace_back(&shadow);
}

std::vector<TPekForm*> WindowGroup::Shadows() const
{
    std::vector<TPekForm*> windows;
    for (const auto& shadow : shadows_)
        if (shadow) windows.push_back(shadow.data());
    return windows;
}

std::vector<TPekForm*> WindowGroup::Windows() const
{
    std::vector<TPekForm*> windows;
    if (main_) windows.push_back(main_.data());
    for (TPekForm* shadow : Shadows()) windows.push_back(shadow);
    return windows;
}

bool WindowGroup::RunMacro(int sheet, const std::string& fileName, bool forceThreadRun) const
{
    if (!macroRunner_) return false;
    macroRunner_(sheet, fileName, forceThreadRun);
    return true;
}

void WindowGroup::CommandDone() const
{
    for (const auto& handler : commandDone_) handler();
}

bool WindowGroup::FirstSettingsError()
{
    const bool first = !settingsErrorShown_;
    settingsErrorShown_ = true;
    return first;
}

}  // namespace pek
