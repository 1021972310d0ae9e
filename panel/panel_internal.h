// What the panel's own files share: limits of the controls and the number parsing of the edits.
#pragma once

#include <QString>

constexpr int kSliderMax = 4095;
constexpr int kSliderStart = 2047;
constexpr int kRoiMax = 5;
constexpr int kStepMin = 1;
constexpr int kStepMax = 128;

// Leading decimal digits as a number; anything else counts 0 (a non-number reads as 0).
long ParseDecimal(const QString& text);
