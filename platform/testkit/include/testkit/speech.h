// Real speech for the audio tests: a few seconds spoken by espeak-ng, made
// once per test program, and the measure of how well a recorded, decoded or
// played signal follows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testkit {

// The speech at `rate` samples a second; empty when espeak-ng made none.
std::vector<int16_t> speechAt(int rate);

// Short-time energy, one value per `window` samples.
std::vector<double> envelope(const std::vector<int16_t>& samples, size_t window);

// The best correlation of the two signals' 10 ms energy envelopes over a
// delay of the output of up to 50 ms (what codecs add); -1 when either is
// too short or silent. The two may have different rates.
double followCorrelation(const std::vector<int16_t>& input, int inputRate, const std::vector<int16_t>& output,
                         int outputRate);

}  // namespace testkit
