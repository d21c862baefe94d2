#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;
class QDialog;

namespace pek {

// Button sets, icons and answers keep their Windows values: scripts pass and receive them as numbers.
enum MessageBoxFlags : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNOCANCEL = 0x03,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct FileDialogRequest {
    QString caption;
    QString directory;
    QString fileName;  // proposed name
    QString filter;    // Qt filter string ("Logs (*.log);;All (*)")
    QString selectedFilter;
    QString defaultSuffix;        // added to a name chosen without extension
    bool confirmOverwrite = true;  // save dialogs ask before replacing a file
    QWidget* extraPanel = nullptr; // shown below the file controls; stays owned by the caller
};

// Turns a filter in the "Text (*.txt)|*.txt|All (*.*)|*.*" form into Qt's form.
QString QtFilter(const QString& pipeFilter);
// The n-th (0-based) entry of such a filter in Qt's form.
QString QtFilterEntry(const QString& pipeFilter, int n);

// Every message box, file dialog and modal dialog of the program goes through this service, so a
// test can read what a box says and answer it without a human or a modal event loop.
class DialogService {
public:
    virtual ~DialogService() = default;
    virtual int MessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned flags) = 0;
    virtual std::optional<QString> OpenFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual std::optional<QString> SaveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    // Shows a modal dialog; returns its result code (QDialog::Accepted / Rejected).
    virtual int Exec(QDialog& dialog) = 0;
};

// The real service: Qt's message boxes and file dialogs.
class QtDialogService final : public DialogService {
public:
    int MessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned flags) override;
    std::optional<QString> OpenFileName(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> SaveFileName(QWidget* parent, const FileDialogRequest& request) override;
    int Exec(QDialog& dialog) override;
};

// The service in use; the real one unless a test installed another.
DialogService& Dialogs();

// Installs a replacement for the lifetime of this object (tests).
class ScopedDialogService {
public:
    explicit ScopedDialogService(DialogService& replacement);
    ~ScopedDialogService();
    ScopedDialogService(const ScopedDialogService&) = delete;
    ScopedDialogService& operator=(const ScopedDialogService&) = delete;

private:
    DialogService* previous_;
};

// Centres a dialog over the main window: integer division, each coordinate raised to 0 when negative.
QPoint CentredOver(const QRect& mainWindow, const QSize& dialog);

}  // namespace pek
