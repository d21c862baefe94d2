#include "platform/DialogService.h"

#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
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

namespace {

std::optional<QString> runFileDialog(QWidget* parent, const FileDialogRequest& request, bool save)
{
    QFileDialog dialog(parent, request.caption, request.directory, request.filter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.selectedFilter.isEmpty()) dialog.selectNameFilter(request.selectedFilter);
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (!request.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QWidget* panel = request.extraPanel;
    QWidget* panelParent = panel ? panel->parentWidget() : nullptr;
    if (panel) {
        // The panel sits in the dialog's own layout, so the dialog must be Qt's, not the desktop's.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            grid->addWidget(panel, grid->rowCount(), 0, 1, -1);
            panel->show();
        }
    }
    const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    if (panel) {
        panel->hide();
        panel->setParent(panelParent);
    }
    if (!accepted) return std::nullopt;
    return dialog.selectedFiles().front();
}

}  // namespace

std::optional<QString> QtDialogService::OpenFileName(QWidget* parent, const FileDialogRequest& request)
{
    return runFileDialog(parent, request, false);
}

std::optional<QString> QtDialogService::SaveFileName(QWidget* parent, const FileDialogRequest& request)
{
    return runFileDialog(parent, request, true);
}

QString QtFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        // The description usually shows the patterns already; Qt reads them from the parentheses.
        if (!description.contains('(')) description += " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
        entries << description;
    }
    return entries.join(";;");
}

QString QtFilterEntry(const QString& pipeFilter, int n)
{
    const QStringList entries = QtFilter(pipeFilter).split(";;");
    return n >= 0 && n < entries.size() ? entries[n] : QString();
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
