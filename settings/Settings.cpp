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
    const auto serve = [&window](const char* name, QObject* form, auto fn) {
        if (QAction* action = window.Action(name)) {
            QObject::connect(action, &QAction::triggered, form, fn);
            action->setEnabled(true);
        }
    };
    TSettingForm* setting = settings->SettingForm();
    TFncSettingForm* fnc = settings->FncSettingForm();
    TCallForm* call = settings->CallForm();
    serve("OptSettingAct", setting, [setting] { setting->ShowModal(); });
    serve("OptFncSettingAct", fnc, [fnc] { fnc->ShowModal(); });
    serve("RunCallCmdAct", call, [call] { call->ShowModal(); });
    return settings;
}

}  // namespace pek
