#include "pack/der_reader.h"

#include <cstdio>

namespace sfx::pack {

DerElement DerReader::Next() {
  DerElement e;
  size_t left = (size_t)(end_ - p_);
  if (left < 2 || (p_[0] & 0x1F) == 0x1F) {  // nothing left, or a multi-byte tag
    p_ = end_;
    return e;
  }
  const uint8_t* start = p_;
  size_t header = 2;
  size_t length = p_[1];
  if (length & 0x80) {
    size_t count = length & 0x7F;
    // 0 is the indefinite length (not DER); more than 4 bytes is beyond
    // anything these files hold.
    if (count == 0 || count > 4 || left < 2 + count) {
      p_ = end_;
      return e;
    }
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | p_[2 + i];
    header += count;
  }
  if (length > left - header) {
    p_ = end_;
    return e;
  }
  e.tag = start[0];
  e.body = start + header;
  e.size = length;
  e.whole = start;
  e.wholeSize = header + length;
  e.valid = true;
  p_ = start + e.wholeSize;
  return e;
}

DerElement DerReader::Expect(uint8_t tag) {
  if (p_ == end_ || p_[0] != tag) return DerElement();
  return Next();
}

bool DerReader::SkipIf(uint8_t tag) { return Expect(tag).valid; }

std::string OidText(const DerElement& oid) {
  if (!oid.valid || oid.tag != der::kOid || oid.size == 0) return "";
  std::string text;
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < oid.size; ++i) {
    if (value > (UINT64_MAX >> 7)) return "";
    value = (value << 7) | (oid.body[i] & 0x7F);
    if (oid.body[i] & 0x80) continue;
    if (first) {
      uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      text = std::to_string(top) + "." + std::to_string(value - top * 40);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  return (oid.body[oid.size - 1] & 0x80) ? "" : text;
}

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", (unsigned)c);
      out += hex;
    } else {
      out += (char)c;
    }
  } else if (c < 0x800) {
    out += (char)(0xC0 | (c >> 6));
    out += (char)(0x80 | (c & 0x3F));
  } else {
    out += (char)(0xE0 | (c >> 12));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  }
}

const char* AttributeName(const std::string& oid) {
  static const struct {
    const char* oid;
    const char* name;
  } names[] = {{"2.5.4.3", "CN"},  {"2.5.4.6", "C"},   {"2.5.4.7", "L"},
               {"2.5.4.8", "ST"},  {"2.5.4.10", "O"},  {"2.5.4.11", "OU"},
               {"2.5.4.5", "serialNumber"},            {"1.2.840.113549.1.9.1", "emailAddress"}};
  for (const auto& n : names)
    if (oid == n.oid) return n.name;
  return nullptr;
}

}  // namespace

std::string DirectoryString(const DerElement& value) {
  std::string out;
  if (!value.valid) return out;
  switch (value.tag) {
    case 0x0C:  // UTF8String: kept as it is, control bytes escaped
      for (size_t i = 0; i < value.size; ++i) {
        uint8_t b = value.body[i];
        if (b < 0x80) AppendUtf8(out, b);
        else out += (char)b;
      }
      break;
    case 0x13: case 0x14: case 0x16: case 0x1A:  // Printable, T61, IA5, Visible
      for (size_t i = 0; i < value.size; ++i) AppendUtf8(out, value.body[i]);
      break;
    case 0x1E:  // BMPString: UTF-16 big-endian, surrogates shown as U+FFFD
      for (size_t i = 0; i + 1 < value.size; i += 2) {
        uint32_t c = (uint32_t)value.body[i] << 8 | value.body[i + 1];
        AppendUtf8(out, c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
      }
      break;
    default:
      break;
  }
  return out;
}

std::string NameText(const DerElement& name) {
  std::string text;
  if (!name.valid || name.tag != der::kSequence) return text;
  DerReader rdns(name);
  while (!rdns.AtEnd()) {
    DerElement rdn = rdns.Expect(der::kSet);
    if (!rdn.valid) break;
    DerReader attributes(rdn);
    while (!attributes.AtEnd()) {
      DerElement attribute = attributes.Expect(der::kSequence);
      if (!attribute.valid) break;
      DerReader parts(attribute);
      std::string oid = OidText(parts.Expect(der::kOid));
      std::string value = DirectoryString(parts.Next());
      const char* label = AttributeName(oid);
      if (!text.empty()) text += ", ";
      text += (label != nullptr ? label : oid) + "=" + value;
    }
  }
  return text;
}

}  // namespace sfx::pack
