#pragma once
// The settings feature attached to a terminal window: the settings dialog, the call-function list
// editor and the picker, served from the window's actions and command bar.
#include <QPointer>

#include <memory>

namespace pek {

class TCallForm;
class TFncSettingForm;
class TSettingForm;
class TerminalHost;

class TSettings {
public:
    explicit TSettings(TerminalHost& window);
    // The dialogs belong to the window; those still there go with this object.
    ~TSettings();
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    TSettingForm* SettingForm() const;
    TFncSettingForm* FncSettingForm() const;
    TCallForm* CallForm() const;

private:
    QPointer<TSettingForm> setting_;
    QPointer<TFncSettingForm> fncSetting_;
    QPointer<TCallForm> call_;
};

// For the composition root: creates the dialogs and serves OptSettingAct, OptFncSettingAct and
// RunCallCmdAct (the call button and Ctrl+Enter in the command box trigger it).
std::unique_ptr<TSettings> AttachSettings(TerminalHost& window);

}  // namespace pek
