#include "wavetable/wav.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <string_view>

#include "wavetable/utf8.hpp"

namespace quillory::wavetable::wav {
namespace {

using Bytes = std::span<const std::uint8_t>;

// Little-endian loads, written byte by byte so they do not depend on the host's byte order; the
// compiler turns each into one load.
std::uint16_t u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint64_t u64(const std::uint8_t* p) {
  return u32(p) | std::uint64_t{u32(p + 4)} << 32;
}

bool has_id(Bytes bytes, std::size_t at, const char (&id)[5]) {
  return std::memcmp(bytes.data() + at, id, 4) == 0;
}

// One sample of one channel to float, per sample format.
struct Pcm8 {
  static constexpr std::size_t kBytes = 1;
  float operator()(const std::uint8_t* p) const { return float(int{p[0]} - 128) * 0.0078125f; }
};
struct Pcm16 {
  static constexpr std::size_t kBytes = 2;
  float operator()(const std::uint8_t* p) const {
    return float(static_cast<std::int16_t>(u16(p))) * 0x1p-15f;
  }
};
struct Pcm24 {
  static constexpr std::size_t kBytes = 3;
  // The three bytes fill bits 8-31 of a signed 32-bit value, which is then scaled like PCM 32.
  float operator()(const std::uint8_t* p) const {
    const std::uint32_t bits =
        std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 24;
    return float(static_cast<std::int32_t>(bits)) * 0x1p-31f;
  }
};
struct Pcm32 {
  static constexpr std::size_t kBytes = 4;
  float operator()(const std::uint8_t* p) const {
    return float(static_cast<std::int32_t>(u32(p))) * 0x1p-31f;
  }
};
struct Float32 {
  static constexpr std::size_t kBytes = 4;
  float operator()(const std::uint8_t* p) const { return std::bit_cast<float>(u32(p)); }
};
struct Float64 {
  static constexpr std::size_t kBytes = 8;
  float operator()(const std::uint8_t* p) const { return float(std::bit_cast<double>(u64(p))); }
};

// Mean of each block's channels: a sum started at -0.0, channels added in order, times
// 1/channels. kChannels fixes the count at compile time for the common mono and stereo loops.
template <class Convert, std::size_t kChannels>
void mix_blocks(Bytes data, std::size_t channels, std::vector<float>& out) {
  const std::size_t count = kChannels != 0 ? kChannels : channels;
  const float scale = 1.0f / float(count);
  const std::uint8_t* p = data.data();
  const Convert convert;
  for (float& sample : out) {
    float sum = -0.0f;
    for (std::size_t c = 0; c < count; ++c, p += Convert::kBytes) sum += convert(p);
    sample = sum * scale;
  }
}

template <class Convert>
void mix(Bytes data, std::size_t channels, std::vector<float>& out) {
  switch (channels) {
    case 1:
      return mix_blocks<Convert, 1>(data, channels, out);
    case 2:
      return mix_blocks<Convert, 2>(data, channels, out);
    default:
      return mix_blocks<Convert, 0>(data, channels, out);
  }
}

struct Decoder {
  SampleFormat format;
  std::uint16_t bits;
  void (*mix)(Bytes, std::size_t, std::vector<float>&);
};

constexpr Decoder kDecoders[] = {
    {SampleFormat::Pcm, 8, &mix<Pcm8>},       {SampleFormat::Pcm, 16, &mix<Pcm16>},
    {SampleFormat::Pcm, 24, &mix<Pcm24>},     {SampleFormat::Pcm, 32, &mix<Pcm32>},
    {SampleFormat::Float, 32, &mix<Float32>}, {SampleFormat::Float, 64, &mix<Float64>},
};

const Decoder* find_decoder(const Fmt& fmt) {
  for (const Decoder& d : kDecoders) {
    if (d.format == fmt.format && d.bits == fmt.bits_per_sample) return &d;
  }
  return nullptr;
}

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
constexpr std::size_t kFmtMinBytes = 16;
constexpr std::size_t kExtensibleMinBytes = 26;  // up to the sub-format's first two bytes
constexpr std::size_t kGridHeaderBytes = 28;
constexpr std::uint64_t kSurgeDefaultFrameSize = 2048;

std::string hex(std::uint16_t value) {
  char digits[4];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
  return "0x" + std::string(digits, end);
}

Result<Fmt, Error> read_fmt(Bytes body) {
  if (body.size() < kFmtMinBytes) return fail(Error::invalid_format("fmt chunk too short"));
  const std::uint8_t* p = body.data();
  std::uint16_t tag = u16(p);
  if (tag == kTagExtensible && body.size() >= kExtensibleMinBytes) tag = u16(p + 24);
  if (tag != kTagPcm && tag != kTagFloat) {
    return fail(Error::unsupported("WAV format tag " + hex(tag)));
  }
  Fmt fmt;
  fmt.format = tag == kTagPcm ? SampleFormat::Pcm : SampleFormat::Float;
  fmt.channels = u16(p + 2);
  if (fmt.channels == 0) return fail(Error::invalid_format("zero channels"));
  fmt.sample_rate = u32(p + 4);
  fmt.bits_per_sample = u16(p + 14);
  return fmt;
}

std::string_view as_text(Bytes bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The digits right after the first "<!>" of a UTF-8 text, when there are some, they fit in 64
// bits and they are not 0.
std::optional<std::uint64_t> clm_frame_size(Bytes body) {
  const std::string_view text = as_text(body);
  if (!is_valid_utf8(text)) return std::nullopt;
  const std::size_t marker = text.find("<!>");
  if (marker == std::string_view::npos) return std::nullopt;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (std::size_t i = marker + 3; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++digits;
  }
  if (digits == 0 || value == 0) return std::nullopt;
  return value;
}

// A positive signed 32-bit frame size at offset 4.
std::optional<std::uint64_t> srge_frame_size(Bytes body) {
  if (body.size() < 8) return std::nullopt;
  const auto value = static_cast<std::int32_t>(u32(body.data() + 4));
  if (value <= 0) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

// Layer names: zero-terminated UTF-8 texts. Kept only when there is one per layer; the count is
// checked before any text is made, so a block of many zero bytes costs no memory.
std::vector<std::string> layer_names(Bytes block, std::size_t layers) {
  if (block.empty()) return {};
  if (block.back() == 0) block = block.first(block.size() - 1);
  const auto zeros = static_cast<std::size_t>(std::count(block.begin(), block.end(), 0));
  if (zeros + 1 != layers) return {};
  std::vector<std::string> names;
  names.reserve(layers);
  for (auto start = block.begin();;) {
    const auto end = std::find(start, block.end(), 0);
    names.push_back(utf8_lossy(as_text(Bytes(start, end))));
    if (end == block.end()) break;
    start = end + 1;
  }
  return names;
}

std::optional<Grid> read_grid(Bytes body) {
  if (body.size() < kGridHeaderBytes) return std::nullopt;
  const std::uint8_t* p = body.data();
  for (std::size_t offset = 0; offset <= 16; offset += 4) {
    if (u32(p + offset) == 0) return std::nullopt;  // version, frame size, cols, rows, layers
  }
  Grid grid{u32(p + 4), u32(p + 8), u32(p + 12), u32(p + 16), u32(p + 20), {}};
  const std::size_t names_bytes =
      std::min<std::size_t>(u32(p + 24), body.size() - kGridHeaderBytes);
  grid.names = layer_names(body.subspan(kGridHeaderBytes, names_bytes), grid.layers);
  return grid;
}

bool grid_fits(const Grid& grid, std::size_t samples) {
  std::uint64_t product = grid.frame_size;
  for (const std::uint64_t factor : {grid.cols, grid.rows, grid.layers}) {
    if (__builtin_mul_overflow(product, factor, &product)) return false;
  }
  return product == samples;
}

// Frame-size tags as the walk meets them: the first valid value of each kind counts.
struct Tags {
  std::optional<std::uint64_t> clm;
  std::optional<std::uint64_t> srge;
  std::optional<std::uint64_t> first;  // the first valid of either, in file order
  bool seen_wt3d = false;
  std::optional<Grid> grid;

  void take(std::optional<std::uint64_t>& slot, std::optional<std::uint64_t> value) {
    if (slot || !value) return;
    slot = value;
    if (!first) first = value;
  }
};

}  // namespace

bool Fmt::supported() const {
  return find_decoder(*this) != nullptr;
}

std::vector<float> Fmt::decode_mono(std::span<const std::uint8_t> data) const {
  const Decoder* decoder = find_decoder(*this);
  if (decoder == nullptr || channels == 0) return {};
  const std::size_t block = std::size_t{channels} * (bits_per_sample / 8u);
  std::vector<float> out(data.size() / block);
  decoder->mix(data, channels, out);
  return out;
}

Result<DecodedWav, Error> decode(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 12 || !has_id(bytes, 0, "RIFF") || !has_id(bytes, 8, "WAVE")) {
    return fail(Error::invalid_format("not a RIFF/WAVE file"));
  }
  std::optional<Fmt> fmt;
  std::optional<Bytes> data;
  Tags tags;
  // Positions are 64-bit so that a declared size near 2^32 cannot wrap on 32-bit targets.
  for (std::uint64_t at = 12; at + 8 <= bytes.size();) {
    const std::uint32_t size = u32(bytes.data() + at + 4);
    const std::uint64_t start = at + 8;
    const Bytes body = bytes.subspan(start, std::min<std::uint64_t>(size, bytes.size() - start));
    if (has_id(bytes, at, "fmt ")) {
      auto read = read_fmt(body);
      if (!read) return fail(std::move(read).error());
      fmt = *read;
    } else if (has_id(bytes, at, "data")) {
      data = body;
    } else if (has_id(bytes, at, "clm ")) {
      tags.take(tags.clm, clm_frame_size(body));
    } else if (has_id(bytes, at, "srge")) {
      tags.take(tags.srge, srge_frame_size(body));
    } else if (has_id(bytes, at, "wt3d") && !tags.seen_wt3d) {
      tags.seen_wt3d = true;
      tags.grid = read_grid(body);
    }
    at = start + size + (size & 1u);  // odd sizes are followed by one pad byte
  }
  if (!fmt) return fail(Error::invalid_format("missing fmt chunk"));
  if (!data) return fail(Error::invalid_format("missing data chunk"));
  if (!fmt->supported()) {
    const bool is_float = fmt->format == SampleFormat::Float;
    return fail(Error::unsupported(std::to_string(fmt->bits_per_sample) + "-bit " +
                                   (is_float ? "float" : "PCM")));
  }

  DecodedWav out;
  out.samples = fmt->decode_mono(*data);
  if (tags.grid && grid_fits(*tags.grid, out.samples.size())) out.grid = std::move(tags.grid);
  out.frame_size_hint = out.grid ? std::optional<std::uint64_t>(out.grid->frame_size) : tags.first;
  if (tags.srge) {
    out.surge_frame_size = tags.srge;
  } else if (tags.clm == kSurgeDefaultFrameSize) {
    out.surge_frame_size = kSurgeDefaultFrameSize;
  }
  out.sample_rate = fmt->sample_rate;
  out.channels = fmt->channels;
  out.bits_per_sample = fmt->bits_per_sample;
  return out;
}

}  // namespace quillory::wavetable::wav
