#include "about_dialog_view.h"

#include <QLabel>
#include <QPushButton>

#include "about_dialog.h"
#include "app_icon.h"
#include "dialog_units.h"
#include "payloads.h"

namespace tessaly::ui::qt {

AboutDialogView::AboutDialogView(QWidget* parent) : QDialog(parent) {
    setWindowTitle(AboutDialog::kCaption);
    setFont(DialogFont());
    const DialogUnits du(font());
    // One line more than the classic box: which font data this build carries.
    setFixedSize(du.size(235, 62));

    auto* icon = new QLabel(this);
    const QRect iconRect = du.rect(11, 14, 21, 20);
    const int side = std::min(iconRect.width(), iconRect.height());
    icon->setPixmap(QPixmap::fromImage(DrawAppIcon(side)));
    icon->setGeometry(iconRect.x(), iconRect.y(), side, side);

    auto* version = new QLabel(AboutDialog::kVersionLine, this);
    version->setGeometry(du.rect(40, 10, 119, 8));
    auto* year = new QLabel(AboutDialog::kYearLine, this);
    year->setGeometry(du.rect(40, 25, 119, 8));
    auto* payloadLine = new QLabel(QString::fromStdString(payloads::Description()), this);
    payloadLine->setWordWrap(true);
    payloadLine->setGeometry(du.rect(40, 38, 188, 18));

    auto* ok = new QPushButton(AboutDialog::kOkText, this);
    ok->setGeometry(du.rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tessaly::ui::qt
