#include "support/test_signing.h"

#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

namespace sfx::test {

std::string SignWithTestCertificate(const std::string& image, const std::string& subject) {
  if (subject.find('\'') != std::string::npos) throw std::runtime_error("subject holds a quote");
  TempDir dir;
  WriteFile(dir / "in.exe", image);
  // The folder is ours (mkdtemp) and the subject has no quote: the command
  // lines are safe to hand to the shell.
  std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '" + subject + "' -keyout '" +
                     (dir / "key.pem") + "' -out '" + (dir / "cert.pem") + "' >/dev/null 2>&1";
  std::string sign = "osslsigncode sign -certs '" + (dir / "cert.pem") + "' -key '" + (dir / "key.pem") +
                     "' -in '" + (dir / "in.exe") + "' -out '" + (dir / "out.exe") + "' >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) throw std::runtime_error("openssl req failed (is openssl installed?)");
  if (std::system(sign.c_str()) != 0) throw std::runtime_error("osslsigncode failed (is it installed?)");
  return ReadFile(dir / "out.exe");
}

}  // namespace sfx::test
