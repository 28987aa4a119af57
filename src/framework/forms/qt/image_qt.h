#pragma once
// The one place a decoded picture becomes Qt's.
#include <QImage>

#include "framework/rgba_image.h"

// An opaque image as Format_RGB32 and one with transparency as Format_ARGB32, as Qt's own
// readers give them; a null image for a null one.
QImage ToQImage(const TRgbaImage& image);
