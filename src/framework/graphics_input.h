#pragma once
// What the graphics' decoders share: the bytes they take from a stream and the sizes they
// may allocate an image for.
#include <cstdint>
#include <vector>

class TStream;

// The bytes from the stream's position to its end, leaving the position after them; raises
// EInvalidGraphic naming the format when there are none or too many.
std::vector<uint8_t> ReadGraphicBytes(TStream& stream, const char* format);

// Whether an image of width x height pixels is one a decoder may allocate (any graphic, an
// icon too; pictures are held to MaxPicturePixels besides).
bool SizeAcceptable(int64_t width, int64_t height);
