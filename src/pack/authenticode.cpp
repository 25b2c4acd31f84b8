#include "pack/authenticode.h"

#include <cstring>

#include "pack/der_reader.h"
#include "platform/byte_order.h"

namespace sfx::pack {
namespace {

constexpr uint16_t kPe32 = 0x10B;
constexpr uint16_t kPe32Plus = 0x20B;
constexpr size_t kSecurityDirectory = 4;
constexpr uint16_t kCertRevision2 = 0x0200;
constexpr uint16_t kCertPkcsSignedData = 0x0002;
const char kSignedDataOid[] = "1.2.840.113549.1.7.2";

bool SameBytes(const DerElement& a, const DerElement& b) {
  return a.valid && b.valid && a.wholeSize == b.wholeSize && memcmp(a.whole, b.whole, a.wholeSize) == 0;
}

// The subject of the certificate with this issuer and serial number.
std::string SubjectOf(const DerElement& certificates, const DerElement& issuer, const DerElement& serial) {
  DerReader certs(certificates);
  while (!certs.AtEnd()) {
    DerElement cert = certs.Next();
    if (!cert.valid) break;
    if (cert.tag != der::kSequence) continue;  // other certificate choices
    DerReader certParts(cert);
    DerReader tbs(certParts.Expect(der::kSequence));
    tbs.SkipIf(der::kContext0);  // version
    DerElement certSerial = tbs.Expect(der::kInteger);
    tbs.Expect(der::kSequence);  // signature algorithm
    DerElement certIssuer = tbs.Expect(der::kSequence);
    tbs.Expect(der::kSequence);  // validity
    DerElement subject = tbs.Expect(der::kSequence);
    if (SameBytes(certIssuer, issuer) && SameBytes(certSerial, serial) && subject.valid) return NameText(subject);
  }
  return "";
}

}  // namespace

std::string Pkcs7SignerSubject(const uint8_t* bytes, size_t size, std::string* problem) {
  DerReader top(bytes, size);
  DerReader contentInfo(top.Expect(der::kSequence));
  if (OidText(contentInfo.Expect(der::kOid)) != kSignedDataOid) {
    *problem = "the signature is not PKCS#7 SignedData";
    return "";
  }
  DerReader explicitContent(contentInfo.Expect(der::kContext0));
  DerReader signedData(explicitContent.Expect(der::kSequence));
  signedData.Expect(der::kInteger);   // version
  signedData.Expect(der::kSet);       // digest algorithms
  signedData.Expect(der::kSequence);  // the signed content (the image's digest)
  DerElement certificates = signedData.Expect(der::kContext0);
  signedData.SkipIf(der::kContext1);  // revocation lists
  DerReader signerInfos(signedData.Expect(der::kSet));
  DerReader signer(signerInfos.Expect(der::kSequence));
  signer.Expect(der::kInteger);  // version
  DerReader issuerAndSerial(signer.Expect(der::kSequence));
  DerElement issuer = issuerAndSerial.Expect(der::kSequence);
  DerElement serial = issuerAndSerial.Expect(der::kInteger);
  if (!certificates.valid || !issuer.valid || !serial.valid) {
    *problem = "the signature names no signer certificate that can be read";
    return "";
  }
  std::string subject = SubjectOf(certificates, issuer, serial);
  if (subject.empty()) *problem = "the signer's certificate is not in the signature";
  return subject;
}

PeSignature ReadPeSignature(const uint8_t* data, size_t size) {
  PeSignature sig;
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return sig;
  size_t pe = LoadLe32(data + 0x3C);
  if (!Fits(pe, 24, size) || memcmp(data + pe, "PE\0\0", 4) != 0) return sig;
  size_t optionalSize = LoadLe16(data + pe + 20);
  size_t optional = pe + 24;
  if (optionalSize < 2 || !Fits(optional, optionalSize, size)) return sig;
  sig.headersEnd = optional + optionalSize;
  uint16_t magic = LoadLe16(data + optional);
  size_t countField = magic == kPe32 ? 92 : magic == kPe32Plus ? 108 : 0;
  if (countField == 0 || optionalSize < countField + 4) return sig;
  sig.pe = true;
  size_t directories = countField + 4;
  uint32_t count = LoadLe32(data + optional + countField);
  size_t entry = directories + kSecurityDirectory * 8;
  if (count <= kSecurityDirectory || optionalSize < entry + 8) return sig;
  uint32_t offset = LoadLe32(data + optional + entry);
  uint32_t length = LoadLe32(data + optional + entry + 4);
  if (offset == 0 && length == 0) return sig;
  sig.present = true;
  sig.tableOffset = offset;
  sig.tableSize = length;
  if (!Fits(offset, length, size)) {
    sig.problem = "the certificate table runs past the end of the file";
    return sig;
  }
  sig.endsFile = offset + (size_t)length == size;
  // WIN_CERTIFICATE entries, each 8-byte aligned: the first PKCS#7 one is
  // the signature.
  const uint8_t* table = data + offset;
  for (size_t at = 0; Fits(at, 8, length);) {
    size_t entryLength = LoadLe32(table + at);
    if (entryLength < 8 || !Fits(at, entryLength, length)) {
      sig.problem = "a certificate table entry runs past the table";
      return sig;
    }
    if (LoadLe16(table + at + 4) == kCertRevision2 && LoadLe16(table + at + 6) == kCertPkcsSignedData) {
      sig.signer = Pkcs7SignerSubject(table + at + 8, entryLength - 8, &sig.problem);
      return sig;
    }
    at += (entryLength + 7) & ~(size_t)7;
    if (at > length) break;
  }
  sig.problem = "the certificate table holds no PKCS#7 signature";
  return sig;
}

size_t SignedContentEnd(const PeSignature& sig, const uint8_t* data, size_t size, size_t contentEnd) {
  if (!sig.present || !sig.endsFile) return size;
  size_t end = sig.tableOffset;
  if (contentEnd > end || end - contentEnd >= 8) return end;
  for (size_t i = contentEnd; i < end; ++i)
    if (data[i] != 0) return end;
  return contentEnd;
}

}  // namespace sfx::pack
