#pragma once

#include <QString>
#include <QWidget>

namespace tessaly::ui::qt {

// A titled frame drawn the classic way: an etched rectangle whose top edge runs
// through the middle of the title, so a frame placed at a given rectangle looks
// as it does in the dialog layouts. It only paints; the controls inside are its
// siblings, placed in dialog coordinates.
class GroupFrame final : public QWidget {
    Q_OBJECT
  public:
    GroupFrame(const QString& title, QWidget* parent);
    const QString& title() const { return title_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString title_;
};

}  // namespace tessaly::ui::qt
