// Randomized EXIF blocks and JPEG headers: the orientation reader answers an
// orientation or a malformed-block error, and never reads past its input
// (each input sits in a heap block of exactly its size for the sanitizers).

#include <gtest/gtest.h>

#include <optional>

#include "platform/image/exif_orientation.h"
#include "platform/image/image_error.h"
#include "testkit/mutations.h"

namespace corvenza::image {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t value;  // a SHORT sits in the first two bytes
};

class Writer {
 public:
  explicit Writer(bool bigEndian) : bigEndian_(bigEndian) {}
  void u16(std::uint16_t v) {
    if (bigEndian_) {
      bytes.push_back(static_cast<std::uint8_t>(v >> 8));
      bytes.push_back(static_cast<std::uint8_t>(v));
    } else {
      bytes.push_back(static_cast<std::uint8_t>(v));
      bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  void u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(bigEndian_ ? v >> 16 : v));
    u16(static_cast<std::uint16_t>(bigEndian_ ? v : v >> 16));
  }
  Bytes bytes;

 private:
  bool bigEndian_;
};

// A TIFF block whose first directory starts @p padding bytes after the header
// and links to @p next (its own offset makes a loop).
struct Tiff {
  Bytes bytes;
  std::size_t directoryEnd;  // one past the last entry
};

Tiff tiff(bool bigEndian, const std::vector<Entry>& entries, std::uint32_t padding = 0,
          std::optional<std::uint32_t> next = std::nullopt) {
  Writer w(bigEndian);
  w.bytes = {static_cast<std::uint8_t>(bigEndian ? 'M' : 'I'),
             static_cast<std::uint8_t>(bigEndian ? 'M' : 'I')};
  w.u16(42);
  const std::uint32_t ifd = 8 + padding;
  w.u32(ifd);
  w.bytes.resize(ifd, 0xEE);
  w.u16(static_cast<std::uint16_t>(entries.size()));
  for (const auto& e : entries) {
    w.u16(e.tag);
    w.u16(e.type);
    w.u32(e.count);
    if (e.type == 3) {
      w.u16(static_cast<std::uint16_t>(e.value));
      w.u16(0);
    } else {
      w.u32(e.value);
    }
  }
  const std::size_t end = w.bytes.size();
  w.u32(next.value_or(0));
  w.bytes.insert(w.bytes.end(), {'M', 'a', 'k', 'e', 0, 0});
  return {std::move(w.bytes), end};
}

Bytes segment(std::uint8_t marker, const Bytes& body) {
  Bytes out = {0xFF, marker, static_cast<std::uint8_t>((body.size() + 2) >> 8),
               static_cast<std::uint8_t>(body.size() + 2)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes exifBody(const Bytes& tiffBytes) {
  Bytes body = {'E', 'x', 'i', 'f', 0, 0};
  body.insert(body.end(), tiffBytes.begin(), tiffBytes.end());
  return body;
}

struct Sample {
  Tiff tiff;
  Bytes jpeg;
  std::size_t exifEnd;  // one past the EXIF segment in the stream
  Orientation expected;
};

// Start of image, @p before, the EXIF segment, then tables and scan data.
Sample sample(Tiff block, const Bytes& before, Orientation expected) {
  Bytes jpeg = {0xFF, 0xD8};
  jpeg.insert(jpeg.end(), before.begin(), before.end());
  const Bytes exif = segment(0xE1, exifBody(block.bytes));
  jpeg.insert(jpeg.end(), exif.begin(), exif.end());
  const std::size_t exifEnd = jpeg.size();
  const Bytes tables = segment(0xDB, Bytes(65, 1));
  jpeg.insert(jpeg.end(), tables.begin(), tables.end());
  jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 0x12, 0x34, 0xFF, 0xD9});
  return {std::move(block), std::move(jpeg), exifEnd, expected};
}

std::vector<Sample> samples() {
  const Bytes jfif = segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0});
  Bytes xmp = segment(0xE1, {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, '<', 'x', '/', '>'});
  Bytes fillAndXmp = {0xFF, 0xFF};
  fillAndXmp.insert(fillAndXmp.end(), xmp.begin(), xmp.end());
  return {
      sample(tiff(false, {{0x010F, 2, 6, 0}, {0x0112, 3, 1, 6}, {0x8769, 4, 1, 0}}), jfif,
             Orientation::right),
      sample(tiff(true, {{0x0100, 4, 1, 64}, {0x0112, 4, 1, 8}}, 8), fillAndXmp, Orientation::left),
      sample(tiff(false, {{0x0112, 3, 1, 3}}, 0, 8), {}, Orientation::down),  // links to itself
      sample(tiff(true, {{0x0112, 3, 1, 2}}, 4, 0xFFFFFFF0), {0xFF, 0xD0}, Orientation::upMirrored),
  };
}

void expectOrientationOrError(const detail::Result<Orientation>& result) {
  if (result.ok()) {
    EXPECT_GE(static_cast<int>(*result), 1);
    EXPECT_LE(static_cast<int>(*result), 8);
  } else {
    EXPECT_EQ(result.error().domain(), kCorvenzaImageErrorDomain);
    EXPECT_FALSE(result.error().localizedDescription().empty());
  }
}

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(ExifOrientationFuzzTest, EveryTruncationReadsUpOrTheTagOrAnError) {
  for (const auto& s : samples()) {
    // A stream cut inside the EXIF segment leaves no block: the picture is as stored.
    for (std::size_t n = 0; n <= s.jpeg.size(); ++n) {
      const test::ExactBytes cut(std::string_view(text(s.jpeg)).substr(0, n));
      const auto result = readJpegOrientation(cut.bytes());
      ASSERT_TRUE(result.ok()) << n;
      EXPECT_EQ(*result, n < s.exifEnd ? Orientation::up : s.expected) << n;
    }
    // A block cut before the end of its directory is malformed.
    for (std::size_t n = 0; n <= s.tiff.bytes.size(); ++n) {
      const test::ExactBytes cut(std::string_view(text(s.tiff.bytes)).substr(0, n));
      const auto result = readTiffOrientation(cut.bytes());
      EXPECT_EQ(result.ok(), n >= s.tiff.directoryEnd) << n;
      if (result.ok()) {
        EXPECT_EQ(*result, s.expected) << n;
      }
    }
  }
}

TEST(ExifOrientationFuzzTest, DirectoriesPointingAnywhereAreReadOnlyInsideTheBlock) {
  test::Mutator mutator(1812);
  const auto all = samples();
  const std::vector<std::uint32_t> offsets = {0,          1,          7,          8,
                                              0x7FFFFFFF, 0xFFFFFFF0, 0xFFFFFFFE, 0xFFFFFFFF};
  for (int round = 0; round < 3000; ++round) {
    const auto& s = mutator.pick(all);
    Bytes block = s.tiff.bytes;
    const bool big = block[0] == 'M';
    Writer w(big);
    const std::uint32_t ifd =
        mutator.oneIn(2) ? mutator.pick(offsets) : static_cast<std::uint32_t>(mutator.below(64));
    w.u32(ifd);
    std::copy(w.bytes.begin(), w.bytes.end(), block.begin() + 4);
    // A directory inside the header keeps the header's bytes as its count.
    if (ifd >= 8 && std::uint64_t{ifd} + 2 <= block.size()) {
      Writer c(big);
      c.u16(static_cast<std::uint16_t>(mutator.oneIn(2) ? mutator.below(65536) : mutator.below(4)));
      std::copy(c.bytes.begin(), c.bytes.end(), block.begin() + ifd);
    }
    std::uint64_t count = 0;
    if (std::uint64_t{ifd} + 2 <= block.size()) {
      count = big ? block[ifd] << 8 | block[ifd + 1] : block[ifd + 1] << 8 | block[ifd];
    }
    const test::ExactBytes exact(text(block));
    const auto result = readTiffOrientation(exact.bytes());
    expectOrientationOrError(result);
    const bool fits = std::uint64_t{ifd} + 2 + count * 12 <= block.size();
    EXPECT_EQ(result.ok(), fits) << ifd << " " << count;
  }
}

TEST(ExifOrientationFuzzTest, DamagedStreamsAndBlocksNeverReadPastTheEnd) {
  test::Mutator mutator(2718);
  const auto all = samples();
  std::vector<std::string> streams, blocks;
  for (const auto& s : all) {
    streams.push_back(text(s.jpeg));
    blocks.push_back(text(s.tiff.bytes));
  }
  const auto jpegs = test::forEachVariant(streams, mutator, 2000, [](std::string_view input) {
    const test::ExactBytes exact(input);
    expectOrientationOrError(readJpegOrientation(exact.bytes()));
  });
  const auto tiffs = test::forEachVariant(blocks, mutator, 2000, [](std::string_view input) {
    const test::ExactBytes exact(input);
    expectOrientationOrError(readTiffOrientation(exact.bytes()));
  });
  // A damaged block inside an intact stream.
  for (int round = 0; round < 2000; ++round) {
    const auto damaged = mutator.mutateBytes(mutator.pick(all).tiff.bytes);
    Bytes jpeg = {0xFF, 0xD8};
    const Bytes exif = segment(0xE1, exifBody(damaged));
    jpeg.insert(jpeg.end(), exif.begin(), exif.end());
    const test::ExactBytes exact(text(jpeg));
    expectOrientationOrError(readJpegOrientation(exact.bytes()));
  }
  EXPECT_GT(jpegs + tiffs, 12000u);
}

}  // namespace
}  // namespace corvenza::image
