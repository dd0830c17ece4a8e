// PNG encoding into a byte vector. libpng reports errors by longjmp, so the function that calls
// setjmp keeps every C++ object it owns declared before it and touches none after a jump.
#include "png_encode.h"

#include <png.h>

#include <csetjmp>
#include <new>

namespace kestrix {
namespace {

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

void Append(png_structp png, png_bytep data, size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        out->insert(out->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) png_error(png, "out of memory");
}

void Flush(png_structp) {}

struct RowSource {
    PngPixels kind;
    const void* pixels;
    int32_t width, height;
    std::vector<uint8_t>* row;  // room for one 16-bit row
};

// Everything after the set-up; an error inside jumps straight back into EncodePng.
void WriteImage(png_structp writer, png_infop info, const RowSource& src) {
    const bool rgb = src.kind == PngPixels::kRgb8, wide = src.kind == PngPixels::kGray16;
    png_set_IHDR(writer, info, static_cast<png_uint_32>(src.width),
                 static_cast<png_uint_32>(src.height), wide ? 16 : 8,
                 rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    const size_t width = static_cast<size_t>(src.width);
    for (size_t y = 0; y < static_cast<size_t>(src.height); ++y) {
        if (wide) {
            // PNG stores a 16-bit sample most significant byte first.
            const auto* samples = static_cast<const uint16_t*>(src.pixels) + y * width;
            uint8_t* row = src.row->data();
            for (size_t x = 0; x < width; ++x) {
                row[2 * x] = static_cast<uint8_t>(samples[x] >> 8);
                row[2 * x + 1] = static_cast<uint8_t>(samples[x]);
            }
            png_write_row(writer, row);
        } else {
            png_write_row(writer,
                          static_cast<const uint8_t*>(src.pixels) + y * width * (rgb ? 3 : 1));
        }
    }
    png_write_end(writer, nullptr);
}

}  // namespace

bool EncodePng(PngPixels kind, const void* pixels, int32_t width, int32_t height,
               std::vector<uint8_t>* png) {
    if (!pixels || !png || width <= 0 || height <= 0) return false;
    std::vector<uint8_t> row;
    try {
        png->clear();
        if (kind == PngPixels::kGray16) row.resize(2 * static_cast<size_t>(width));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const RowSource source{kind, pixels, width, height, &row};

    png_structp writer =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!writer) return false;
    png_infop info = png_create_info_struct(writer);
    if (!info || setjmp(png_jmpbuf(writer))) {
        png_destroy_write_struct(&writer, &info);
        return false;
    }
    png_set_write_fn(writer, png, Append, Flush);
    WriteImage(writer, info, source);
    png_destroy_write_struct(&writer, &info);
    return true;
}

}  // namespace kestrix
