#include "rescue/gui/rescue_map_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace {

// A pixel over bytes of several states shows the one that matters most: a single bad sector in
// a pixel of good ones must not disappear.
int weight(rescue::State state) {
    switch (state) {
    case rescue::State::Finished:
        return 1;
    case rescue::State::NotTried:
        return 2;
    case rescue::State::Failed:
    case rescue::State::NotSplit:
        return 3;
    case rescue::State::Bad:
        return 4;
    }
    return 0;
}

// The state each weight stands for (0: no byte of the selection).
const rescue::State kByWeight[] = {rescue::State::NotTried, rescue::State::Finished, rescue::State::NotTried,
                                   rescue::State::Failed, rescue::State::Bad};

} // namespace

TRescueMap::TRescueMap(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(256, 64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TRescueMap::setMap(const rescue::Map& map) {
    map_ = map;
    update();
}

int64_t TRescueMap::bytesPerPixel() const {
    const int64_t pixels = std::max<int64_t>(int64_t(width()) * height(), 1);
    return std::max<int64_t>((map_.size() + pixels - 1) / pixels, 1);
}

QPoint TRescueMap::pixelOf(int64_t offset) const {
    const int64_t p = offset / bytesPerPixel();
    const int w = std::max(width(), 1);
    return {int(p % w), int(p / w)};
}

QColor TRescueMap::colourOf(rescue::State state) {
    switch (state) {
    case rescue::State::Finished:
        return {0, 170, 0};
    case rescue::State::NotTried:
        return {176, 176, 176};
    case rescue::State::Failed:
    case rescue::State::NotSplit:
        return {240, 210, 0};
    case rescue::State::Bad:
        return {220, 0, 0};
    }
    return Qt::black;
}

void TRescueMap::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

void TRescueMap::paintEvent(QPaintEvent* event) {
    const int w = std::max(width(), 1), h = std::max(height(), 1);
    const int64_t n = bytesPerPixel();
    std::vector<uint8_t> weights(size_t(w) * size_t(h), 0);
    for (const rescue::Area& a : map_.areas()) {
        if (a.size <= 0) continue;
        const int64_t first = a.offset / n,
                      last = std::min<int64_t>((a.offset + a.size - 1) / n, int64_t(weights.size()) - 1);
        const uint8_t k = uint8_t(weight(a.state));
        for (int64_t p = first; p <= last; ++p)
            weights[size_t(p)] = std::max(weights[size_t(p)], k);
    }
    QImage image(w, h, QImage::Format_RGB32);
    const QRgb empty = palette().color(QPalette::Window).rgb();
    QRgb colours[5] = {empty};
    for (int k = 1; k < 5; ++k)
        colours[k] = colourOf(kByWeight[k]).rgb();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = colours[weights[size_t(y) * size_t(w) + size_t(x)]];
    }
    QPainter painter(this);
    painter.drawImage(event->rect(), image, event->rect());
}
