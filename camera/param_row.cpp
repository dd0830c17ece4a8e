// Parameter row values: each drifts on a slow sine of its own period, so that the readouts move
// a little over minutes, as a real sensor's do while it settles.
#include "param_row.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace camsim {
namespace {

double Drift(double t, double periodSeconds, double phase) {
    return std::sin(2.0 * std::numbers::pi * t / periodSeconds + phase);
}

uint16_t Word(long value) { return static_cast<uint16_t>(std::clamp(value, 0L, 0xFFFFL)); }

}  // namespace

uint16_t EncodeTemperature(double celsius) {
    const long hundredths = std::lround(std::fabs(celsius) * 100.0);
    const auto magnitude = static_cast<uint16_t>(std::min(hundredths, 0x1FFFL));
    return celsius < 0 && magnitude != 0 ? static_cast<uint16_t>(magnitude | 0x2000) : magnitude;
}

ParamWords DeviceParamWords(double t, int32_t width, int32_t height) {
    const double focalPlane = 30.0 + 1.5 * Drift(t, 300, 0.0) + 0.2 * Drift(t, 37, 0.5);
    const double cavity = 33.5 + 1.0 * Drift(t, 420, 1.0);
    const double pcb = 41.0 + 2.0 * Drift(t, 600, 2.0);
    ParamWords w{};
    w[0] = EncodeTemperature(focalPlane);
    w[1] = EncodeTemperature(cavity);
    w[2] = EncodeTemperature(pcb);
    w[3] = Word(std::lround((focalPlane - 1.25) * 100.0));  // VITEC, hundredths
    w[4] = static_cast<uint16_t>(static_cast<int16_t>(118 + std::lround(3.0 * Drift(t, 50, 0.3))));
    w[5] = focalPlane > 31.0 ? 3 : 2;                        // TEC level
    w[6] = 0;                                                // frozen frame
    w[7] = 0;                                                // TEC transition frame
    w[8] = Word(height);
    w[9] = Word(width);
    w[10] = Word(80 + std::lround(6.0 * Drift(t, 240, 1.5)));    // integration time
    w[11] = Word(1250 + std::lround(20.0 * Drift(t, 500, 0.7)));  // B value
    w[12] = 0;
    w[13] = 2;  // responsivity level
    return w;
}

}  // namespace camsim
