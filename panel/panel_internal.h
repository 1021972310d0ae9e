// What the panel's own files share: limits of the controls and the number parsing of the edits.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

constexpr int kSliderMax = 4095;
constexpr int kSliderStart = 2047;
constexpr int kRoiMax = 5;
constexpr int kStepMin = 1;
constexpr int kStepMax = 128;
constexpr unsigned kThresholdMax = 255;  // the temporal NR threshold travels as one byte

// Leading decimal digits as a number; anything else counts 0 (a non-number reads as 0).
long ParseDecimal(const QString& text);

// Where a window of frame size `size` goes beside the window framed by `owner` on the free area
// `available`: to the right when it fits there, else below, else to the left, else above. When
// none fits with the owner where it stands, the owner moves as little as lets the window fit
// beside it; where no move does, the window shrinks into the largest room beside the owner (not
// below `minimum`, the owner pushed aside as far as that takes); where even that fails, it covers
// the owner but never `keep`, the part of the owner that must stay in view. Points are the
// frames' top left corners; `size` is the window's frame size there.
struct Beside {
    QPoint window;
    QPoint owner;
    QSize size;
};
Beside PlaceBeside(const QRect& owner, const QSize& size, const QRect& available, const QRect& keep,
                   const QSize& minimum);
