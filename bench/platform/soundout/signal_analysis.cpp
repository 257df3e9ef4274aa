#include "bench/platform/soundout/signal_analysis.h"

#include <cmath>

namespace lunadio::soundout::bench {

double thdPlusNoiseDb(const std::vector<double>& signal, double toneHz, double rateHz) {
  // Normal equations of y = a sin + b cos + c.
  double m[3][3] = {};
  double v[3] = {};
  const std::size_t n = signal.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 2.0 * M_PI * toneHz * static_cast<double>(i) / rateHz;
    const double basis[3] = {std::sin(w), std::cos(w), 1.0};
    for (int r = 0; r < 3; ++r) {
      v[r] += basis[r] * signal[i];
      for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
    }
  }
  // Gaussian elimination on the 3x3 system.
  for (int p = 0; p < 3; ++p) {
    for (int r = p + 1; r < 3; ++r) {
      const double f = m[r][p] / m[p][p];
      for (int c = p; c < 3; ++c) m[r][c] -= f * m[p][c];
      v[r] -= f * v[p];
    }
  }
  double x[3];
  for (int r = 2; r >= 0; --r) {
    double s = v[r];
    for (int c = r + 1; c < 3; ++c) s -= m[r][c] * x[c];
    x[r] = s / m[r][r];
  }
  double toneEnergy = 0.0;
  double residualEnergy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 2.0 * M_PI * toneHz * static_cast<double>(i) / rateHz;
    const double fitted = x[0] * std::sin(w) + x[1] * std::cos(w);
    const double residual = signal[i] - fitted - x[2];
    toneEnergy += fitted * fitted;
    residualEnergy += residual * residual;
  }
  return 10.0 * std::log10(residualEnergy / toneEnergy);
}

std::vector<double> leftChannel(const std::vector<float>& stereo, std::size_t fromFrame) {
  std::vector<double> left;
  for (std::size_t f = fromFrame; f < stereo.size() / 2; ++f) left.push_back(stereo[2 * f]);
  return left;
}

std::vector<std::int16_t> tone16(std::size_t frames, double toneHz, double rateHz, double amplitude,
                                 double phase) {
  std::vector<std::int16_t> samples(2 * frames);
  for (std::size_t f = 0; f < frames; ++f) {
    const double w = 2.0 * M_PI * toneHz * static_cast<double>(f) / rateHz + phase;
    const auto s = static_cast<std::int16_t>(std::lround(amplitude * 32767.0 * std::sin(w)));
    samples[2 * f] = samples[2 * f + 1] = s;
  }
  return samples;
}

}  // namespace lunadio::soundout::bench
