// For start-up measurements: when the environment names a descriptor in KELVRA_FIRST_PAINT_FD,
// the moment `window` first paints (CLOCK_MONOTONIC, nanoseconds as 8 bytes) is written to it
// and the descriptor is closed. Without the variable nothing happens.
#pragma once

class QWidget;

void ReportFirstPaint(QWidget* window);
