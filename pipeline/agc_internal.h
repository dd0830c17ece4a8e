// Internals of the gain control shared by its source files and its tests: the context record at
// the start of the work block, the per-frame bounds and means, and the pixel kernels.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "agc.h"

namespace kx::agc {

inline constexpr uint32_t kValues = 16384;    // raw values 0 .. 16383, one table entry each
inline constexpr uint32_t kMaxValue = 16383;  // a sample above this counts as this
inline constexpr size_t kLutOffset = 128;     // table bytes in the work block
inline constexpr size_t kHistOffset = kLutOffset + kValues;  // counters in the work block

// The mode and the settings that a frame is converted with.
struct Tuning {
    uint8_t mode;        // AGC_MODE_*
    uint8_t lowCut;      // per-mille of the pixels cut at the dark end
    uint8_t highCut;     // per-mille of the pixels cut at the hot end
    uint8_t brightness;  // grey level of the frame's mean
    uint8_t contrast;    // output swing of the linear stretch
    uint16_t minSpan;    // raw span below which the linear gain stops growing
};

// Worked out from each frame's histogram: 0 <= low < high <= peak <= 16383.
struct Stats {
    uint16_t low;       // first value with more than lowCut per-mille of the pixels at or below
    uint16_t high;      // robust top of the scene
    uint16_t peak;      // at most 16 pixels lie above it
    uint16_t mean;      // rounded mean of low .. high - 1
    uint16_t lowMean;   // rounded mean of low .. mean - 1
    uint16_t highMean;  // rounded mean of mean .. high
};

// The settings that choosing a mode loads; Histeq keeps the contrast it finds.
Tuning PresetFor(uint8_t mode, uint8_t contrastBefore);

// Bounds and means of a frame of width x height pixels from its (wrapped) counters.
Stats FindStats(const uint16_t* hist, const Tuning& tuning, uint32_t width, uint32_t height);

// The whole conversion of one frame, with the given tuning, into lut and hist (the block's
// areas) and gray.
void ConvertFrame(const Tuning& tuning, uint32_t width, uint32_t height, const uint16_t* image,
                  uint8_t* gray, uint8_t* lut, uint16_t* hist);

// Pixel kernels (agc_kernels.cpp).
// hist[v] = number of samples with min(sample, 16383) == v, modulo 65536.
void CountValues(const uint16_t* image, size_t count, uint16_t* hist);
// gray[i] = clamp(offset + ((v * gain) >> 8)), v = min(image[i], 16383), clamp to 0 .. 255.
void MapLinear(const uint16_t* image, size_t count, uint16_t gain, int32_t offset, uint8_t* gray);
// lut[v] = clamp(offset + ((v * gain) >> 8)) for v = 0 .. 16383.
void FillLinear(uint16_t gain, int32_t offset, uint8_t* lut);
// Limits hist[first .. last] to at most cap, in place; returns their total after limiting, and
// before it in *before.
uint32_t LimitCounters(uint16_t* hist, uint32_t first, uint32_t last, uint16_t cap,
                       uint32_t* before);
// levels[v] = clamp(offset + ((levels[v] * g) >> 8)) for v = 0 .. 16383, g <= 256.
void ScaleLevels(uint8_t* levels, uint16_t g, int32_t offset);
// gray[i] = lut[min(image[i], 16383)].
void MapThroughLut(const uint16_t* image, size_t count, const uint8_t* lut, uint8_t* gray);
// As MapLinear for samples up to knee, through lut above it.
void MapKnee(const uint16_t* image, size_t count, uint16_t gain, int32_t offset, uint16_t knee,
             const uint8_t* lut, uint8_t* gray);

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KX_AGC_HAVE_AVX2 1
// AVX2 kernels (agc_kernels_avx2.cpp), as MapLinear, MapThroughLut and MapKnee: each converts
// whole steps of 32 (16 for the look-up) pixels and returns how many pixels it converted; the
// caller does the rest.
size_t MapLinearWide(const uint16_t* image, size_t count, uint16_t gain, int32_t offset,
                     uint8_t* gray);
size_t MapThroughLutWide(const uint16_t* image, size_t count, const uint8_t* lut, uint8_t* gray);
size_t MapKneeWide(const uint16_t* image, size_t count, uint16_t gain, int32_t offset,
                   uint16_t knee, const uint8_t* lut, uint8_t* gray);
#endif

// Whether the kernels use AVX2: yes where the processor has it. Tests turn it off to check the
// SSE2 kernels as well; not meant to be switched while frames are being converted.
bool WideKernels();
void SetWideKernels(bool on);  // on has no effect without AVX2

}  // namespace kx::agc

// The record at the start of the work block; its first fields are laid out as the block's users
// know them. Created by AGC_Create, written afterwards only by AGC_SetMode (any thread) and read by
// AGC_Process (the converting thread), both under tuningLock.
struct AgcContext {
    uint8_t mode;    // AGC_MODE_*; guarded by tuningLock
    uint8_t lowCut;  // guarded by tuningLock, as are the four settings below
    uint8_t highCut;
    uint8_t brightness;
    uint8_t contrast;
    uint16_t minSpan;
    uint32_t width;   // set by AGC_Create only
    uint32_t height;  // set by AGC_Create only
    uint8_t* lut;     // byte 128 of the block; touched by AGC_Process only
    uint16_t* hist;   // byte 16,512 of the block; touched by AGC_Process only
    // Held for the few instructions that store or copy the mode and its settings, so that a frame
    // never sees a half-switched mode. Nobody waits on anything else while holding it.
    std::atomic<bool> tuningLock;
};
