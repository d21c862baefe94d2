#include "dialogs/ShellOpen.h"

#include "platform/CodePage.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace pek {

namespace {

QString SystemName(const std::string& cp932)
{
    return QString::fromStdString(FileNameToSystem(cp932));
}

// "http://…", "mailto:…": a scheme of two or more letters (one letter would be a drive).
bool IsUrl(const QString& text)
{
    const int colon = text.indexOf(':');
    if (colon < 2) return false;
    for (int i = 0; i < colon; ++i) {
        const QChar c = text[i];
        if (!(c.isLetterOrNumber() || c == '+' || c == '-' || c == '.') || c.unicode() > 127) return false;
    }
    return text[0].isLetter();
}

}  // namespace

bool ShellOpen(const ShellRequest& request)
{
    const QString file = SystemName(request.file);
    if (file.isEmpty()) return false;
    if (IsUrl(file)) return QDesktopServices::openUrl(QUrl(file));
    const QString folder = SystemName(request.folder);
    QString path = file;
    if (QFileInfo(file).isRelative()) {
        const QString inFolder = QDir(folder.isEmpty() ? QDir::currentPath() : folder).filePath(file);
        if (QFileInfo::exists(inFolder)) path = inFolder;
        else if (!file.contains('/')) path = QStandardPaths::findExecutable(file);  // a program on PATH
    }
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) return false;
    if (info.isFile() && info.isExecutable()) {
        const QStringList arguments = QProcess::splitCommand(QString::fromStdString(Cp932ToUtf8(request.parameters)));
        return QProcess::startDetached(info.absoluteFilePath(), arguments, folder);
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

}  // namespace pek
