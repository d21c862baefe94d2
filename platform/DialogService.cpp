#include "platform/DialogService.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace pek {

namespace {

DialogService* current = nullptr;

QtDialogService& realService()
{
    static QtDialogService service;
    return service;
}

}  // namespace

DialogService& Dialogs()
{
    return current ? *current : realService();
}

ScopedDialogService::ScopedDialogService(DialogService& replacement) : previous_(current)
{
    current = &replacement;
}

ScopedDialogService::~ScopedDialogService()
{
    current = previous_;
}

int QtDialogService::MessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned flags)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setWindowTitle(caption);
    switch (flags & 0xF0u) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    struct Choice {
        QMessageBox::StandardButton button;
        int result;
    };
    std::vector<Choice> choices;
    switch (flags & 0x0Fu) {
    case MB_OKCANCEL: choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_YESNOCANCEL:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO: choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    default: choices = {{QMessageBox::Ok, IDOK}}; break;
    }
    QMessageBox::StandardButtons buttons;
    for (const auto& c : choices) buttons |= c.button;
    box.setStandardButtons(buttons);
    if (parent) box.move(CentredOver(parent->window()->frameGeometry(), box.sizeHint()));
    const int pressed = box.exec();
    for (const auto& c : choices)
        if (c.button == pressed) return c.result;
    return (flags & 0x0Fu) == MB_OK ? IDOK : IDCANCEL;
}

std::optional<QString> QtDialogService::OpenFileName(QWidget* parent, const FileDialogRequest& request)
{
    const QString start = request.fileName.isEmpty() ? request.directory : request.directory + "/" + request.fileName;
    const QString name = QFileDialog::getOpenFileName(parent, request.caption, start, request.filter);
    if (name.isEmpty()) return std::nullopt;
    return name;
}

std::optional<QString> QtDialogService::SaveFileName(QWidget* parent, const FileDialogRequest& request)
{
    const QString start = request.fileName.isEmpty() ? request.directory : request.directory + "/" + request.fileName;
    const QString name = QFileDialog::getSaveFileName(parent, request.caption, start, request.filter);
    if (name.isEmpty()) return std::nullopt;
    return name;
}

int QtDialogService::Exec(QDialog& dialog)
{
    return dialog.exec();
}

QPoint CentredOver(const QRect& mainWindow, const QSize& dialog)
{
    const int top = std::max(0, mainWindow.top() + (mainWindow.height() - dialog.height()) / 2);
    const int left = std::max(0, mainWindow.left() + (mainWindow.width() - dialog.width()) / 2);
    return {left, top};
}

}  // namespace pek
