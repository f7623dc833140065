#pragma once
// The rescue map as a picture: the whole selection in rows of pixels, like the byte map, each
// pixel coloured by the state of the bytes it stands for.

#include "rescue/rescue.h"

#include <QColor>
#include <QWidget>

class TRescueMap : public QWidget {
    Q_OBJECT
public:
    explicit TRescueMap(QWidget* parent = nullptr);

    // A copy of `map`, shown at the next paint.
    void setMap(const rescue::Map& map);
    const rescue::Map& map() const { return map_; }

    // Bytes a pixel stands for at the widget's present size: the fewest that fit the selection.
    int64_t bytesPerPixel() const;
    // The pixel that shows byte `offset` of the selection.
    QPoint pixelOf(int64_t offset) const;
    static QColor colourOf(rescue::State state);

    QSize sizeHint() const override { return {512, 128}; }

signals:
    // The size changed, and with it bytesPerPixel().
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    rescue::Map map_;
};
