// The synthetic thermal scene: a warm background with a gradient and a few fixed warm shapes,
// hot objects that move across it, optical blur and sensor noise, as 14-bit values.
#pragma once

#include <cstdint>
#include <vector>

namespace camsim {

class SyntheticScene {
public:
    static constexpr uint16_t kMaxValue = 16383;

    SyntheticScene(int32_t width, int32_t height, uint64_t seed);

    // Renders the scene t seconds after start, box-blurred with blurRadius pixels, with the
    // noise pattern chosen by noiseIndex, into out (width * height values). Not thread-safe.
    void Render(double t, int blurRadius, uint32_t noiseIndex, uint16_t* out);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

private:
    struct HotObject {
        int32_t amplitude;
        double fx, fy, phaseX, phaseY;  // path of the centre: a slow Lissajous figure
    };

    void AddObject(const HotObject& object, double t, int32_t* image) const;
    void BoxBlur(int radius, int32_t* image);

    int32_t m_width;
    int32_t m_height;
    std::vector<int32_t> m_background;  // precomputed, 14-bit
    std::vector<int32_t> m_sprite;      // soft disc, 0..1024, side m_spriteSide
    int32_t m_spriteSide = 0;
    std::vector<HotObject> m_objects;
    std::vector<int16_t> m_noise;       // width * height + kNoiseSlack values
    std::vector<int32_t> m_work;        // render buffer
    std::vector<int32_t> m_blurTemp;    // one row or column of the blur
};

}  // namespace camsim
