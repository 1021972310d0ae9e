// Images and icons compiled into the program.
#pragma once

#include <QIcon>
#include <QPixmap>

// Registers the compiled-in images; call once before the first window is made.
void InitKelvraResources();

// Icon resources by number: 128 the application, 131 "Off", 133 "Inferno", 134 "Soft Light".
// A null icon for any other number.
QIcon LoadIconResource(int id);
// Bitmap resource 141: the About banner.
QPixmap LoadBitmapResource(int id);
