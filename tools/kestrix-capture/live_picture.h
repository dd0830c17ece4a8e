// kestrix-capture's --png: the last live picture at its own size with the centre box over it, as
// the live view draws it. live_picture_cairo.cpp draws it with Glintra's X11 picture path (libyuv,
// cairo); live_picture_plain.cpp needs no library, for the Windows build.
#pragma once

#include <string>

#include "grey_picture.h"

namespace kestrix {

// Writes `grey` as an RGB PNG file at `path`; false when there is no picture or the file cannot be
// written.
bool WriteLivePicture(const glintra::GreyPicture& grey, const std::string& path);

}  // namespace kestrix
