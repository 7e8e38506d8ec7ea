#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>

class QLabel;

namespace tessaly::sim {
class R3Engine;
struct PrintJob;
}  // namespace tessaly::sim

namespace tessaly::ui::qt {

// The built-in virtual printer's paper: the last receipt it printed, drawn at
// the printer's resolution, brought up to date while it is open. It takes the
// printer's finished jobs, so the printer (whose jobs are kept for it) never
// waits for them.
class VirtualPaperView final : public QDialog {
    Q_OBJECT
  public:
    explicit VirtualPaperView(sim::R3Engine& engine, QWidget* parent = nullptr);

    // Takes the printer's finished jobs and shows the last; true when one came.
    bool collect();
    const QImage& image() const { return image_; }
    QString caption() const;

    // The picture of a job: white paper, black dots, blue marks (cuts, pulses).
    static QImage Picture(const sim::PrintJob& job);

  private:
    sim::R3Engine& engine_;
    QLabel* picture_ = nullptr;
    QLabel* caption_ = nullptr;
    QImage image_;
    int jobs_ = 0;
    QTimer timer_;
};

}  // namespace tessaly::ui::qt
