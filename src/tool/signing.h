// `sfx pack --sign-cert/--sign-key`: an Authenticode signature added to a
// packed Win32 setup by osslsigncode. The signature is appended after the
// payload, which the stub finds through its locator, so the signed setup
// installs as before and its signature covers the whole payload.
#pragma once

#include <string>

#include "pack/payload_writer.h"

namespace sfx::tool {

struct SignOptions {
  std::string cert;       // certificate (PEM or DER)
  std::string key;        // private key (PEM or DER)
  std::string pass;       // the key's password, if any
  std::string timestamp;  // RFC 3161 timestamp server URL, if any
  bool Requested() const { return !cert.empty() || !key.empty() || !pass.empty() || !timestamp.empty(); }
};

// The osslsigncode program ($SFX_OSSLSIGNCODE, else found on PATH), or a
// ToolError saying how to get it or sign in a second step.
std::string FindSigner();

// The image signed: written to a private temporary folder, signed there, and
// read back. Throws ToolError with osslsigncode's last line of output when
// signing fails, or when the result's signature would not cover the image.
pack::Bytes SignImage(const pack::Bytes& image, const SignOptions& options);

}  // namespace sfx::tool
