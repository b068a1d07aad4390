#include "analysis/spectrum_analyser.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "state/recorder_state.h"
#include "support/reference_analysis.h"
#include "support/test_platform.h"

namespace {

class SpectrumAnalyser : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    mainWindow = TestWindow(0x77);
  }
};

// A full-scale cosine at a whole number of cycles per 65536 samples.
std::vector<std::int16_t> Cosine(double cyclesPerFrame, double amplitude = 32767.0) {
  std::vector<std::int16_t> frame(FFT_SIZE);
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    const double phase = 2.0 * std::numbers::pi * cyclesPerFrame * static_cast<double>(i) / 65536.0;
    frame[i] = static_cast<std::int16_t>(std::lround(amplitude * std::cos(phase)));
  }
  return frame;
}

// A sine of the amplitude (1 is full scale) at the frequency, rounded to 16 bits.
std::vector<std::int16_t> Sine(double hz, double rate, double amplitude) {
  std::vector<std::int16_t> frame(FFT_SIZE);
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    frame[i] = static_cast<std::int16_t>(
        std::lround(32768.0 * amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
  }
  return frame;
}

std::vector<float> Spectrum() {
  std::lock_guard lock(spectrumMutex);
  return spectrum;
}

TEST_F(SpectrumAnalyser, WindowTableEndsAndMiddle) {
  EnsureWindowTable();
  ASSERT_EQ(windowTable.size(), FFT_SIZE);
  // The double residue of 0.42 - 0.5 + 0.08, rounded to single.
  EXPECT_EQ(windowTable[0], static_cast<float>(0.42 - 0.5 + 0.08));
  EXPECT_EQ(windowTable[0], -1.3877788e-17f);
  EXPECT_EQ(windowTable[65535], windowTable[0]);
  EXPECT_EQ(windowTable[32767], 1.0f);
  EXPECT_EQ(windowTable[32768], 1.0f);
  // The Blackman curve elsewhere, against a double-precision evaluation.
  for (std::size_t i : {1u, 100u, 16384u, 40000u, 65534u}) {
    const double x = static_cast<double>(i);
    const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * x / 65535) +
                     0.08 * std::cos(4 * std::numbers::pi * x / 65535);
    EXPECT_NEAR(windowTable[i], w, 2e-6) << i;
  }
  // Every coefficient, bit for bit, against the steps and precisions of the
  // definition computed independently. The single-precision cosine is the
  // platform's: mingw-w64's differs from glibc's in the last bit for 699 of
  // the 65536 arguments, so the Windows and Linux tables differ there, and
  // each build is held to its own library, as the program is.
  const std::vector<float>& expected = ReferenceWindowTable();
  std::size_t differing = 0;
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    differing += std::bit_cast<std::uint32_t>(windowTable[i]) != std::bit_cast<std::uint32_t>(expected[i]);
  }
  EXPECT_EQ(differing, 0u);
}

TEST_F(SpectrumAnalyser, WindowTableIsFilledOncePerProcess) {
  EnsureWindowTable();
  windowTable[5] = 123.0f;  // a marker that a rebuild would erase
  const auto frame = Cosine(1365.0);
  AnalyseFrame(frame.data(), frame.size(), 48000);
  EXPECT_EQ(windowTable[5], 123.0f);
}

TEST(FftInPlace, MatchesTheDiscreteFourierTransform) {
  for (std::size_t n : {2u, 8u, 64u, 1024u}) {
    std::vector<float> re(n), im(n);
    for (std::size_t i = 0; i < n; ++i) {
      re[i] = static_cast<float>(std::sin(0.37 * static_cast<double>(i)) + 0.25);
      im[i] = static_cast<float>(std::cos(1.3 * static_cast<double>(i * i % 17)));
    }
    std::vector<std::complex<double>> expected(n);
    for (std::size_t k = 0; k < n; ++k) {
      for (std::size_t m = 0; m < n; ++m) {
        const double angle = -2.0 * std::numbers::pi * static_cast<double>(k * m % n) / static_cast<double>(n);
        expected[k] += std::complex<double>(re[m], im[m]) * std::polar(1.0, angle);
      }
    }
    FftInPlace(re, im);
    for (std::size_t k = 0; k < n; ++k) {
      EXPECT_NEAR(re[k], expected[k].real(), 1e-3 * static_cast<double>(n)) << "n " << n << " k " << k;
      EXPECT_NEAR(im[k], expected[k].imag(), 1e-3 * static_cast<double>(n)) << "n " << n << " k " << k;
    }
  }
}

TEST_F(SpectrumAnalyser, ThousandHertzAt48kHzPeaksAtBin1365) {
  std::vector<std::int16_t> frame(FFT_SIZE);
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    frame[i] = static_cast<std::int16_t>(
        std::lround(32767.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000.0)));
  }
  AnalyseFrame(frame.data(), frame.size(), 48000);
  EXPECT_EQ(peakFrequencyHz.load(), 999.755859375f);
  const auto values = Spectrum();
  ASSERT_EQ(values.size(), SPECTRUM_BINS);
  EXPECT_EQ(values[1365], 1.0f);
  for (float v : values) {
    ASSERT_GE(v, 0.0f);
    ASSERT_LE(v, 1.0f);
  }
  ASSERT_EQ(testNotifier.Posted().size(), 1u);
  EXPECT_EQ(testNotifier.Posted()[0].target, TestWindow(0x77));
  EXPECT_EQ(testNotifier.Posted()[0].message, WM_UPDATE_VISUALS);
  EXPECT_EQ(testNotifier.Posted()[0].peakAtPost, 999.755859375f) << "posted before the peak was stored";
  EXPECT_EQ(testNotifier.Posted()[0].spectrumBinsAtPost, SPECTRUM_BINS) << "posted before the spectrum was replaced";
}

TEST_F(SpectrumAnalyser, ExactTieGoesToTheLowestBin) {
  // One sample where the window is exactly 1: every bin has the same
  // magnitude, to the bit.
  std::vector<std::int16_t> frame(FFT_SIZE, 0);
  frame[32768] = -32768;
  AnalyseFrame(frame.data(), frame.size(), 48000);
  EXPECT_EQ(peakFrequencyHz.load(), 0.0f);
  EXPECT_EQ(Spectrum(), std::vector<float>(SPECTRUM_BINS, 1.0f));
}

TEST_F(SpectrumAnalyser, PeakFrequencyIsRoundedInSinglePrecision) {
  const struct {
    double bin;
    std::int32_t rate;
    float hz;
  } cases[] = {{1000, 48000, 732.421875f}, {32767, 44100, 22049.326171875f}, {0, 48000, 0.0f}};
  for (const auto& c : cases) {
    const auto frame = c.bin == 0 ? std::vector<std::int16_t>(FFT_SIZE, 1000) : Cosine(c.bin);
    AnalyseFrame(frame.data(), frame.size(), c.rate);
    EXPECT_EQ(peakFrequencyHz.load(), c.hz) << "bin " << c.bin;
    EXPECT_EQ(Spectrum()[static_cast<std::size_t>(c.bin)], 1.0f) << "bin " << c.bin;
  }
}

TEST_F(SpectrumAnalyser, EmptyAndSilentFramesGiveZeros) {
  const std::vector<std::int16_t> silence(FFT_SIZE, 0);
  for (std::size_t count : {std::size_t{0}, FFT_SIZE}) {
    peakFrequencyHz.store(5.0f);
    AnalyseFrame(silence.data(), count, 48000);
    EXPECT_EQ(peakFrequencyHz.load(), 0.0f);
    EXPECT_EQ(Spectrum(), std::vector<float>(SPECTRUM_BINS, 0.0f));
  }
  EXPECT_EQ(testNotifier.Count(WM_UPDATE_VISUALS), 2u);
}

TEST_F(SpectrumAnalyser, FaintFrameIsDividedByTheFloorAndPeaksAtZeroHertz) {
  // A single sample of 1 at the window's edge weighs -1.4e-17 / 32768: every
  // magnitude stays below 1e-8.
  std::vector<std::int16_t> frame(FFT_SIZE, 0);
  frame[0] = 1;
  AnalyseFrame(frame.data(), frame.size(), 48000);
  EXPECT_EQ(peakFrequencyHz.load(), 0.0f);
  const auto values = Spectrum();
  EXPECT_GT(values[0], 0.0f);
  EXPECT_LT(values[0], 1.0f);
}

TEST_F(SpectrumAnalyser, ShortFramesAreZeroFilledAndLongOnesCut) {
  auto full = Cosine(2000.0);
  std::vector<std::int16_t> padded(FFT_SIZE, 0);
  std::copy_n(full.begin(), 40000, padded.begin());

  AnalyseFrame(full.data(), 40000, 48000);
  const auto shortResult = Spectrum();
  const float shortPeak = peakFrequencyHz.load();
  AnalyseFrame(padded.data(), padded.size(), 48000);
  EXPECT_EQ(Spectrum(), shortResult);
  EXPECT_EQ(peakFrequencyHz.load(), shortPeak);

  std::vector<std::int16_t> longer = full;
  longer.resize(FFT_SIZE + 5000, 32767);
  AnalyseFrame(full.data(), full.size(), 48000);
  const auto exact = Spectrum();
  AnalyseFrame(longer.data(), longer.size(), 48000);
  EXPECT_EQ(Spectrum(), exact);
}

// A steady tone anywhere between two bins, at 48 and 192 kHz: its
// frequency within 0.01 of a bin, its level within 0.02 dB, from the three
// bins around the top; a sine of a quarter of full scale on its bin reads
// -12.04 dBFS on the spectrum's own scale too.
TEST_F(SpectrumAnalyser, PrecisePeakAndDbfsOfATone) {
  const double quarter = 20.0 * std::log10(0.25);  // -12.04 dBFS
  int ran = 0;
  for (const int rate : {48000, 192000}) {
    const double binHz = rate / 65536.0;
    for (const double offset : {0.0, 0.05, 0.13, 0.25, 0.31, 0.4, 0.47, 0.5}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, " << offset << " bin");
      const double hz = (1201.0 + offset) * binHz;
      const auto frame = Sine(hz, rate, 0.25);
      AnalyseFrame(frame.data(), frame.size(), rate);
      std::lock_guard lock(spectrumMutex);
      EXPECT_NEAR(spectrumLevels.peakHz, hz, 0.01 * binHz);
      EXPECT_NEAR(spectrumLevels.peakDbfs, quarter, 0.02) << "the window's bias left in";
      if (offset == 0.0) {
        EXPECT_NEAR(20.0 * std::log10(spectrum[1201] * spectrumLevels.toFullScale), quarter, 0.1);
        EXPECT_FLOAT_EQ(peakFrequencyHz.load(), static_cast<float>(1201 * binHz)) << "the bin's centre, as ever";
      }
      ++ran;
    }
  }
  EXPECT_EQ(ran, 16);
  // Silence: no level.
  const std::vector<std::int16_t> silence(FFT_SIZE);
  AnalyseFrame(silence.data(), silence.size(), 48000);
  std::lock_guard lock(spectrumMutex);
  EXPECT_EQ(spectrumLevels.peakDbfs, -1e300);
}

}  // namespace
