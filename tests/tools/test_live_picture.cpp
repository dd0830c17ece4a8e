// kestrix-capture's live picture without a drawing library (the Windows build's) against Glintra's
// X11 picture path, pixel for pixel, and the encoder without libpng read back by libpng.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "camera_link.h"
#include "live_picture.h"
#include "picture.h"
#include "png_encode.h"
#include "tool_runner.h"

namespace {

using kx_tools_test::Png;
using kx_tools_test::ReadPng;

glintra::GreyPicture RandomGrey(int width, int height) {
    glintra::GreyPicture grey;
    grey.width = width;
    grey.height = height;
    grey.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::mt19937 random(static_cast<uint32_t>(width * 7919 + height));
    for (auto& g : grey.pixels) g = static_cast<uint8_t>(random());
    return grey;
}

TEST(LivePicture, PlainPictureEqualsGlintrasPicturePath) {
    // 640x512 spans many stored deflate blocks; in 7x5 and 1x1 the box is all outline, so filled.
    const struct { int width, height; } sizes[] = {{640, 512}, {160, 120}, {7, 5}, {1, 1}, {33, 2}};
    const std::string path = testing::TempDir() + "live_picture_test.png";
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const glintra::GreyPicture grey = RandomGrey(size.width, size.height);
        ASSERT_TRUE(kestrix::WriteLivePicture(grey, path));
        const Png png = ReadPng(path);
        ASSERT_EQ(png.format, PNG_FORMAT_RGB);
        ASSERT_EQ(png.width, size.width);
        ASSERT_EQ(png.height, size.height);

        std::vector<uint32_t> argb(grey.pixels.size());
        const glintra::RgbTarget target{reinterpret_cast<uint8_t*>(argb.data()), 4 * size.width,
                                        size.width, size.height};
        std::vector<uint8_t> scratch;
        glintra::RenderGrey(grey, true, scratch, target);
        glintra::OverlayPainter painter;
        painter.Begin(target);
        painter.DrawRect(kestrix::kCentreBoxRect, kestrix::kCentreBoxColour, 1);
        painter.End();
        std::vector<uint8_t> rgb;
        for (uint32_t p : argb)
            rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        EXPECT_TRUE(png.bytes == rgb);
    }
    std::remove(path.c_str());
    EXPECT_FALSE(kestrix::WriteLivePicture(glintra::GreyPicture{}, path));
    EXPECT_FALSE(
        kestrix::WriteLivePicture(RandomGrey(4, 4), testing::TempDir() + "no/such/folder.png"));
}

TEST(LivePicture, StoredEncoderKeepsSixteenBitSamples) {
    std::vector<uint16_t> samples(300 * 200);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 40503u);
    std::vector<uint8_t> png;
    ASSERT_TRUE(kestrix::EncodePng(kestrix::PngPixels::kGray16, samples.data(), 300, 200, &png));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    image.format = PNG_FORMAT_LINEAR_Y;  // 16-bit grey, host order
    std::vector<uint16_t> read(samples.size());
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, read.data(), 0, nullptr));
    EXPECT_EQ(read, samples);
}

}  // namespace
