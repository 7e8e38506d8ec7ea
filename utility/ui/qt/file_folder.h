#pragma once

#include <QFileDialog>
#include <QString>

namespace tessaly::ui::qt {

// Where Tessaly's file dialogs open: the folder of the file last saved or loaded,
// remembered between runs in the user's configuration folder ($XDG_CONFIG_HOME,
// by default ~/.config/tessaly/tessaly.ini); at first the documents folder.
QString FileDialogFolder();

// Points a file dialog at that folder, before any proposed name is selected.
void StartInRememberedFolder(QFileDialog& dialog);

// Remembers the folder of a file the user chose.
void RememberFolderOf(const QString& file);

}  // namespace tessaly::ui::qt
