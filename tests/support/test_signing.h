// Authenticode signing for tests: a self-signed certificate made with
// openssl and a PE image signed with osslsigncode, in a temporary folder.
#pragma once

#include <string>

namespace sfx::test {

// The image signed by a fresh certificate with the subject given (openssl
// -subj form, "/O=.../CN=..."). Throws std::runtime_error when openssl or
// osslsigncode is missing or fails.
std::string SignWithTestCertificate(const std::string& image, const std::string& subject);

}  // namespace sfx::test
