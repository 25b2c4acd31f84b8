// Helpers shared by the tests of the payload and of extraction.
#pragma once

#include <algorithm>
#include <string>

#include "support/caught.h"
#include "support/payload_builder.h"

namespace sfx::test {

// A stream of stored blocks of this format: per block a header byte (type
// 7, with the last-block flag on the last unless more is to follow), a
// 16-bit length and the bytes.
inline pack::Bytes StoredStream(const std::string& data, bool endsTheStream = true) {
  pack::Bytes s;
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(65535, data.size() - at);
    s.push_back(at + n == data.size() && endsTheStream ? 0x0F : 0x07);
    s.push_back((uint8_t)n);
    s.push_back((uint8_t)(n >> 8));
    s.insert(s.end(), data.begin() + at, data.begin() + at + n);
    at += n;
  } while (at < data.size());
  return s;
}

// The geometry of the payload-container example: a stream area of 660,142
// bytes (the first entry without a stream, the last one stored blocks sized
// to fill it), a file table of 179 bytes (four names of 12 characters) and
// a project archive of 498 bytes (its third string sized to fit).
inline CatalogueBuilder ExampleGeometry() {
  const uint32_t kDataLength = 660142, kProjectLength = 498;
  CatalogueBuilder b;
  TestFile none{"NoStream.txt", ""};
  none.stream = pack::Bytes{};
  b.File(none);
  b.File({"Program1.exe", std::string(200000, 'p')});
  b.File({"Library1.dll", std::string(100000, 'l')});
  b.File({"Payload1.dat", ""});
  b.Platforms({{}, {}, {}});

  uint32_t target = kDataLength - (b.Write().layout.starts[3] - 4);
  size_t blocks = (target + 65537) / 65538;
  std::string last(target - 3 * blocks, 'd');
  for (size_t i = 0; i < last.size(); ++i) last[i] = (char)(i * 7 + i / 251);
  b.catalogue().files[3].data = ToBytes(last);
  b.catalogue().files[3].stream = StoredStream(last);
  b.catalogue().project.extra.assign(kProjectLength - b.Write().layout.projectLength, 'e');
  return b;
}

}  // namespace sfx::test
