#include "virtual_paper_view.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "r3_engine.h"
#include "renderer.h"

namespace tessaly::ui::qt {

VirtualPaperView::VirtualPaperView(sim::R3Engine& engine, QWidget* parent)
    : QDialog(parent), engine_(engine) {
    setWindowTitle(tr("Virtual paper"));
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(tr("Nothing printed yet."), this);
    layout->addWidget(caption_);
    auto* scroll = new QScrollArea(this);
    picture_ = new QLabel(scroll);
    picture_->setBackgroundRole(QPalette::Base);
    scroll->setWidget(picture_);
    scroll->setWidgetResizable(false);
    scroll->setAlignment(Qt::AlignHCenter);
    layout->addWidget(scroll, 1);
    resize(640, 720);
    timer_.setInterval(250);
    connect(&timer_, &QTimer::timeout, this, &VirtualPaperView::collect);
    timer_.start();
    collect();
}

QImage VirtualPaperView::Picture(const sim::PrintJob& job) {
    const sim::RenderedJob rendered = sim::RenderJob(job);
    const sim::Canvas& c = rendered.canvas;
    QImage image(c.width, c.height, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(0x1F, 0x6F, 0xD0)});
    for (int y = 0; y < c.height; ++y) {
        std::copy_n(c.dots.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width),
                    c.width, image.scanLine(y));
    }
    return image;
}

bool VirtualPaperView::collect() {
    auto jobs = engine_.takeJobs();
    if (jobs.empty()) return false;
    jobs_ += static_cast<int>(jobs.size());
    image_ = Picture(jobs.back());
    picture_->setPixmap(QPixmap::fromImage(image_));
    picture_->resize(image_.size());
    caption_->setText(tr("Receipt %1 (ended by %2): %3 x %4 dots")
                          .arg(jobs_)
                          .arg(QString::fromStdString(jobs.back().endedBy))
                          .arg(image_.width())
                          .arg(image_.height()));
    return true;
}

QString VirtualPaperView::caption() const {
    return caption_->text();
}

}  // namespace tessaly::ui::qt
