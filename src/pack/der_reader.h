// A small reader of DER (the distinguished encoding of ASN.1), enough to
// walk a PKCS#7 signature and an X.509 certificate. Every read stays inside
// the bytes it was given: a tag or length that runs past them, an
// indefinite length or a multi-byte tag makes the element invalid, and the
// caller sees an empty, failed read instead of a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx::pack {

namespace der {
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kContext0 = 0xA0;  // [0] constructed
constexpr uint8_t kContext1 = 0xA1;  // [1] constructed
}  // namespace der

struct DerElement {
  uint8_t tag = 0;
  const uint8_t* body = nullptr;  // contents, without tag and length
  size_t size = 0;                // contents' length
  const uint8_t* whole = nullptr; // from the tag on
  size_t wholeSize = 0;
  bool valid = false;
};

// Reads elements one after another from a span of bytes.
class DerReader {
 public:
  DerReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  explicit DerReader(const DerElement& e) : DerReader(e.body, e.valid ? e.size : 0) {}

  bool AtEnd() const { return p_ == end_; }
  // The next element, whatever its tag; invalid at the end or on bad bytes
  // (after which the reader stays at its end).
  DerElement Next();
  // The next element if its tag is `tag`; otherwise invalid and nothing read.
  DerElement Expect(uint8_t tag);
  // Skips the next element if its tag is `tag`; true if it did.
  bool SkipIf(uint8_t tag);

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// An object identifier's dotted text ("2.5.4.3"); empty for a malformed one.
std::string OidText(const DerElement& oid);

// A directory string (Printable, UTF8, IA5, T61, Visible, BMP) as UTF-8,
// control bytes as \xNN; empty for other types.
std::string DirectoryString(const DerElement& value);

// An X.501 Name as "CN=..., O=..." in the order it is encoded.
std::string NameText(const DerElement& name);

}  // namespace sfx::pack
