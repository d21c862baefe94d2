#include "settings/Settings.h"

#include "settings/callfnc_u.h"
#include "settings/fnc_setting_u.h"
#include "settings/setting_u.h"
#include "terminal/TerminalHost.h"

#include <QAction>

namespace pek {

TSettings::TSettings(TerminalHost& window)
{
    QWidget* parent = window.DialogParent();
    setting_ = new TSettingForm(window, parent);
    fncSetting_ = new TFncSettingForm(window, parent);
    call_ = new TCallForm(window, *fncSetting_, parent);
}

TSettings::~TSettings()
{
    delete call_.data();
    delete fncSetting_.data();
    delete setting_.data();
}

TSettingForm* TSettings::SettingForm() const
{
    return setting_;
}

TFncSettingForm* TSettings::FncSettingForm() const
{
    return fncSetting_;
}

TCallForm* TSettings::CallForm() const
{
    return call_;
}

std::unique_ptr<TSettings> AttachSettings(TerminalHost& window)
{
    auto settings = std::make_unique<TSettings>(window);
    TSettingForm* setting = settings->SettingForm();
    TFncSettingForm* fnc = settings->FncSettingForm();
    TCallForm* call = settings->CallForm();
    ServeAction(window, "OptSettingAct", setting, [setting] { setting->ShowModal(); });
    ServeAction(window, "OptFncSettingAct", fnc, [fnc] { fnc->ShowModal(); });
    ServeAction(window, "RunCallCmdAct", call, [call] { call->ShowModal(); });
    return settings;
}

}  // namespace pek
