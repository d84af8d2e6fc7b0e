// The copy of the core's picture that the windows paint from. The core composes the next frame
// into its picture right after presenting one, so what is shown (and repainted while paused) is
// a copy taken at the present; the copy is made in Qt's format of the same layout, so that it
// is a plain copy of rows rather than a conversion of pixels.
#pragma once

#include <QImage>

#include "raster/URaster.h"

// Copies `picture` into `presented`, reusing its buffer when the size and format stay. 8-bit
// pictures become Indexed8 images coloured by `palette`; 16-bit ones RGB555, 24-bit ones
// BGR888 and 32-bit ones (B, G, R, X) RGB32 with the fourth byte opaque. Pictures of other
// depths present nothing (a null image).
void CopyToPresented(const TRasterBitmap& picture, const TColorTable& palette, QImage& presented);
