#include "file_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tessaly::ui::qt {
namespace {

constexpr auto kKey = "files/lastFolder";

QSettings Settings() {
    return {QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tessaly"),
            QStringLiteral("tessaly")};
}

}  // namespace

QString FileDialogFolder() {
    const QString remembered = Settings().value(kKey).toString();
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir()) return remembered;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void StartInRememberedFolder(QFileDialog& dialog) {
    dialog.setDirectory(FileDialogFolder());
}

void RememberFolderOf(const QString& file) {
    Settings().setValue(kKey, QFileInfo(file).absolutePath());
}

}  // namespace tessaly::ui::qt
