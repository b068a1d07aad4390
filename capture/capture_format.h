#pragma once

#include <array>
#include <cstdint>

// The fields of the device's mix format (WAVEFORMATEX, or WAVEFORMATEXTENSIBLE
// when the tag is FORMAT_TAG_EXTENSIBLE) that capture relies on. The
// platform layer copies them out of the record the audio service returns;
// the stream is opened in exactly that format, so packets arrive with the
// device's own channel count and frame size.

// Same values as the platform's WAVE_FORMAT_* tags and KSDATAFORMAT_SUBTYPE_* GUIDs.
constexpr std::uint16_t FORMAT_TAG_PCM = 1;
constexpr std::uint16_t FORMAT_TAG_IEEE_FLOAT = 3;
constexpr std::uint16_t FORMAT_TAG_EXTENSIBLE = 0xFFFE;

// A GUID as its 16 bytes in memory order (Data1..Data3 little-endian).
using FormatGuid = std::array<std::uint8_t, 16>;

// {00000001-0000-0010-8000-00AA00389B71}
constexpr FormatGuid SUBTYPE_PCM = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// {00000003-0000-0010-8000-00AA00389B71}
constexpr FormatGuid SUBTYPE_IEEE_FLOAT = {
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct CaptureFormat {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;     // bytes from one frame to the next
  std::uint16_t wBitsPerSample = 0;  // container size of one sample
  // Meaningful only when wFormatTag is FORMAT_TAG_EXTENSIBLE.
  std::uint16_t wValidBitsPerSample = 0;
  FormatGuid SubFormat{};

  bool operator==(const CaptureFormat&) const = default;
};

// How one sample of a packet is stored.
enum class SampleEncoding : std::uint8_t {
  Unsupported,  // compressed, unknown, or a record whose fields disagree
  Unsigned8,
  Int16,
  Int24,  // packed, three bytes
  Int32,  // also 24 or 20 valid bits, left-justified in 32
  Float32,
  Float64,
};
