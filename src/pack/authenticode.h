// The Authenticode signature of a PE file, read without checking it
// cryptographically: where the certificate table lies (the security
// directory), and the subject of the certificate that signed (the PKCS#7
// SignedData's signer, found among its certificates by issuer and serial
// number). A signature covers every byte before the certificate table
// except the header's checksum and the security directory entry, so a
// setup's payload is signed when it ends before the table and the table
// ends the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx::pack {

struct PeSignature {
  bool pe = false;          // the file is a PE image with an optional header
  size_t headersEnd = 0;    // where its optional header ends (checksum, directories); 0: none read
  bool present = false;     // its security directory names a certificate table
  size_t tableOffset = 0;   // the table's file offset and size
  size_t tableSize = 0;
  bool endsFile = false;    // the table lies inside the file and ends it
  std::string signer;       // the signer certificate's subject, "CN=..., O=..."
  std::string problem;      // why the table or the signature could not be read
};

// Reads the signature of the PE image in data (any bytes: a file that is no
// PE image gives pe == false). Never reads outside data.
PeSignature ReadPeSignature(const uint8_t* data, size_t size);

// Where the signed content ends in a file of `size` bytes: the file's end
// without a certificate table at its end; else the table's offset, less the
// zero bytes (fewer than 8) that align the table, when they follow
// contentEnd, the end the content is known to have (a setup's payload end).
size_t SignedContentEnd(const PeSignature& sig, const uint8_t* data, size_t size, size_t contentEnd);

// The signer's subject from a DER PKCS#7 SignedData ContentInfo; empty with
// *problem set when it cannot be read.
std::string Pkcs7SignerSubject(const uint8_t* der, size_t size, std::string* problem);

}  // namespace sfx::pack
