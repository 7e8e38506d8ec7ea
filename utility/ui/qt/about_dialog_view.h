#pragma once

#include <QDialog>

namespace tessaly::ui::qt {

// The About box: icon, version line, year line and OK.
class AboutDialogView final : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialogView(QWidget* parent = nullptr);
};

}  // namespace tessaly::ui::qt
