#include "common/kiss_reader.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "gui/kiss.hpp"

namespace {

TEST(KissReader, ReadsBackWhatTheEncoderWrote) {
  const std::vector<std::vector<uint8_t>> frames = {
      {0x50, 0xC0, 0x01, 0xDB}, {}, std::vector<uint8_t>(1500, 0x7B), {0xDB, 0xDB, 0xC0}};
  std::vector<uint8_t> stream;
  for (const auto& f : frames) {
    auto encoded = kiss_encode(f);
    stream.insert(stream.end(), encoded.begin(), encoded.end());
  }
  // Fed one byte at a time and whole: the same frames either way.
  for (size_t piece : {size_t{1}, stream.size()}) {
    SCOPED_TRACE(piece);
    KissReader reader;
    std::vector<std::vector<uint8_t>> got;
    for (size_t i = 0; i < stream.size(); i += piece) {
      kiss_read(reader, std::span(stream).subspan(i, std::min(piece, stream.size() - i)),
                [&](std::span<const uint8_t> data) { got.emplace_back(data.begin(), data.end()); });
    }
    EXPECT_EQ(got, frames);
  }
}

}  // namespace
