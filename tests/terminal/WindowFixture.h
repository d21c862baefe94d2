#pragma once
// Shared pieces of the terminal window tests: a dialog service that answers for the user, a
// settings file in a temp folder, and waiting on the event loop for a condition.
#include "editor/EditorEx.h"
#include "platform/CodePage.h"
#include "platform/CopyData.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "terminal/main_u.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QTabWidget>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pek::test {

struct ShownMessage {
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    unsigned flags = 0;
};

// Answers every box and dialog at once, recording what was asked.
class AnsweringDialogs : public DialogService {
public:
    std::vector<ShownMessage> messages;
    std::deque<int> answers;                          // message box answers, IDOK when empty
    std::deque<std::optional<QString>> fileAnswers;   // file dialogs, cancelled when empty
    std::function<void(const FileDialogRequest&)> onFileDialog;
    std::vector<FileDialogRequest> fileRequests;

    int MessageBox(QWidget*, const QString& text, const QString& caption, unsigned flags) override
    {
        messages.push_back({text.toStdString(), caption.toStdString(), flags});
        if (answers.empty()) return IDOK;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<QString> OpenFileName(QWidget*, const FileDialogRequest& request) override { return file(request); }
    std::optional<QString> SaveFileName(QWidget*, const FileDialogRequest& request) override { return file(request); }
    int Exec(QDialog&) override { return QDialog::Rejected; }

    bool Shown(const std::string& utf8Text) const
    {
        for (const auto& m : messages)
            if (m.text == utf8Text) return true;
        return false;
    }

private:
    std::optional<QString> file(const FileDialogRequest& request)
    {
        fileRequests.push_back(request);
        if (onFileDialog) onFileDialog(request);
        if (fileAnswers.empty()) return std::nullopt;
        const bool chosen = fileAnswers.front().has_value();
        const QString answer = chosen ? *fileAnswers.front() : QString();
        fileAnswers.pop_front();
        if (!chosen) return std::nullopt;
        return answer;
    }
};

// Spins the event loop until pred holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (form) {
            form->close();
            form.reset();
        }
    }

    // A settings file that maps COM1 to the pty and keeps sheet 0 on it with the given extras.
    void PortSettings(const std::string& extraNo0 = "")
    {
        std::string text = "[Ports]\r\nCOM1=" + pty.slavePath() + "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\n" +
                           "ComFlowCtrl=5\r\nComTimeOutRec=200\r\n" + extraNo0;
        WriteFileBytes(iniPath(), text);
    }
    std::string iniPath() const { return dir.file("pek.ini").string(); }

    void Start()
    {
        form = std::make_unique<TPekForm>(iniPath());
        form->LoadSheets();
    }

    std::string PaneText(int sheet = 0) const { return form->SheetPane(sheet)->Text(); }
    bool PaneShows(const std::string& cp932, int sheet = 0, int timeoutMs = 5000)
    {
        return WaitUntil([&] { return PaneText(sheet).find(cp932) != std::string::npos; }, timeoutMs);
    }
    // Sends bytes from the device and waits until the port object has taken them all in.
    void Receive(const std::string& bytes, int sheet = 0)
    {
        TCommXEx* port = form->SheetPort(sheet);
        ASSERT_NE(port, nullptr);
        std::int32_t start = port->RingBuf().Pos();
        pty.write(bytes);
        // In the ring buffer as read, then handed to the window.
        ASSERT_TRUE(WaitUntil([&] { return port->RingBuf().DataSize(start) >= std::int32_t(bytes.size()) && port->ReadAheadCount() == 0; }));
    }
    void Type(const std::string& utf8Command)
    {
        form->InpCmdCbx->setEditText(QString::fromStdString(utf8Command));
        form->RunRunCmdActExecute();
    }

    TempDir dir;
    PtyPair pty;
    AnsweringDialogs dialogs;
    ScopedDialogService dialogScope{dialogs};
    std::unique_ptr<TPekForm> form;
};

}  // namespace pek::test
