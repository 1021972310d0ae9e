// Parameters named on the command line: the catalogue's display names, an alias made from them
// (lower case, every run of characters other than letters and digits one dash, no dash at either
// end: "AGC Mode at Power Up" is agc-mode-at-power-up), or an index, decimal or 0x-hexadecimal.
#pragma once

#include <QString>

// The index (0..254) that `text` names; -1 with the reason in `error` otherwise. An unknown name
// lists the closest known ones, if any is close. "Unknown Parameter" names no single index: those are reached
// by index only.
int FindParameter(const QString& text, QString* error);

// A 16-bit value, decimal or 0x-hexadecimal; false when `text` is not one.
bool ParseParameterValue(const QString& text, uint16_t* value);

// Whether the catalogue has a name of its own for `index` (the others are "Unknown Parameter").
bool IsNamedParameter(int index);
