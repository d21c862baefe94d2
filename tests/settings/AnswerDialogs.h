#pragma once
// A dialog service for the feature tests: message boxes are recorded and answered with OK; a modal
// dialog is handed to the test's handler, which works its controls and returns its result.
#include "platform/CodePage.h"
#include "platform/DialogService.h"

#include <QDialog>

#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pek::test {

class AnswerDialogs : public DialogService {
public:
    std::vector<std::string> messages;  // UTF-8
    std::deque<std::optional<QString>> fileAnswers;
    std::function<int(QDialog&)> onExec;  // none: the dialog is cancelled
    std::atomic<int> execs{0};

    int MessageBox(QWidget*, const QString& text, const QString&, unsigned) override
    {
        messages.push_back(text.toStdString());
        return IDOK;
    }
    std::optional<QString> OpenFileName(QWidget*, const FileDialogRequest& request) override { return File(request); }
    std::optional<QString> SaveFileName(QWidget*, const FileDialogRequest& request) override { return File(request); }
    int Exec(QDialog& dialog) override
    {
        ++execs;
        return onExec ? onExec(dialog) : QDialog::Rejected;
    }
    bool Shown(const std::string& utf8) const
    {
        for (const auto& m : messages)
            if (m.find(utf8) != std::string::npos) return true;
        return false;
    }

    std::vector<FileDialogRequest> fileRequests;

private:
    std::optional<QString> File(const FileDialogRequest& request)
    {
        fileRequests.push_back(request);
        if (fileAnswers.empty()) return std::nullopt;
        auto answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

}  // namespace pek::test
