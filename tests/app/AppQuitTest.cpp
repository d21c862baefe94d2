// The program composed as pek composes it ends with its main window: every tool window goes with
// it, the event loop returns, and the settings file holds what each window saved.
#include "app/Features.h"
#include "debugger/DebuggerHost.h"
#include "debugger/MacroFrm.h"
#include "platform/Profile.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "terminal/main_u.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace pek::test {
namespace {

TEST(AppQuit, FileQuitWithTheDebuggerShownEndsTheProgram)
{
    TempDir dir;
    PtyPair pty;
    const std::string ini = dir.file("pek.ini").string();
    WriteFileBytes(ini, "[Ports]\r\nCOM1=" + pty.slavePath() + "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\n");
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    QPointer<TPekForm> form(new TPekForm(ini));
    form->setAttribute(Qt::WA_DeleteOnClose);
    auto features = std::make_unique<TFeatures>(*form);
    form->show();
    form->LoadSheets();
    form->Action("ViewDebugger")->trigger();
    ASSERT_TRUE(features->Debugger().Form().isVisible());

    QTimer::singleShot(0, form, [&form] { form->Action("FileQuitAct")->trigger(); });
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::quit();
    });
    watchdog.start(20000);
    QCoreApplication::exec();
    EXPECT_FALSE(timedOut) << "the event loop outlived the main window";
    EXPECT_TRUE(form.isNull());
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible()) << window->metaObject()->className();
    delete form.data();
    features.reset();

    const ProfileFile saved(ini);
    EXPECT_TRUE(saved.ValueExists("Debugger", "Width"));
    EXPECT_TRUE(saved.ValueExists("\x8a\xc2\x8b\xab", "Width"));  // the window section "環境"
}

}  // namespace
}  // namespace pek::test
