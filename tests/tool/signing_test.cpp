// Signed Win32 setups: signed while packing (a plain key, a key with a
// password) or afterwards with osslsigncode, each valid for osslsigncode's
// own check, read by verify, list and extract as before, with the signer and
// the signed range reported; a file changed after signing is refused, and
// the signature reader survives every cut and every changed byte of a real
// signature.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "pack/authenticode.h"
#include "pack/setup_reader.h"
#include "payload/payload_locator.h"
#include "platform/byte_order.h"
#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

const char kSubject[] = "/C=DE/O=Example Software/CN=sfxkit test signer";
const char kSigner[] = "C=DE, O=Example Software, CN=sfxkit test signer";

std::string Which(const std::string& name) {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
    if (access((std::string(dir) + "/" + name).c_str(), X_OK) == 0) return std::string(dir) + "/" + name;
  return "";
}

struct Signing : ::testing::Test {
  TempDir dir;
  std::string openssl = Which("openssl"), osslsigncode = Which("osslsigncode");
  std::string manifest = std::string(SFX_EXAMPLES_DIR) + "/hello/manifest.json";
  std::string cert = dir / "cert.pem", key = dir / "key.pem";

  void SetUp() override {
    if (openssl.empty() || osslsigncode.empty()) GTEST_SKIP() << "needs openssl and osslsigncode";
    RunResult probe = Sfx({"pack", manifest, "-o", dir / "unsigned.exe", "--target", "win32"});
    if (probe.status != 0 && probe.err.find("no win32 stub") != std::string::npos) GTEST_SKIP() << probe.err;
    ASSERT_EQ(probe.status, 0) << probe.err;
    RunResult made = tooltest::Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                   "-days", "2", "-subj", kSubject});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  void ExpectSignedAndValid(const std::string& setup, const std::string& caFile) {
    SCOPED_TRACE(setup);
    RunResult v = Sfx({"verify", setup});
    EXPECT_EQ(v.status, 0) << v.err;
    EXPECT_NE(v.out.find(std::string("signature: signed by \"") + kSigner + "\"; signed range [0, "),
              std::string::npos) << v.out;
    EXPECT_NE(v.out.find(") covers the whole payload ["), std::string::npos) << v.out;
    RunResult check = tooltest::Run(osslsigncode, {"verify", "-CAfile", caFile, "-in", setup});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(Sfx({"list", setup}).out, Sfx({"list", dir / "unsigned.exe"}).out);
  }
};

TEST_F(Signing, SignedWhilePackingOrAfterwardsVerifiesWithItsSigner) {
  RunResult plain = Sfx({"verify", dir / "unsigned.exe"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("signature: none\n"), std::string::npos) << plain.out;

  RunResult packed = Sfx({"pack", manifest, "-o", dir / "signed.exe", "--target", "win32", "--sign-cert", cert,
                          "--sign-key", key});
  ASSERT_EQ(packed.status, 0) << packed.err;
  ExpectSignedAndValid(dir / "signed.exe", cert);

  RunResult after = tooltest::Run(osslsigncode, {"sign", "-certs", cert, "-key", key, "-in", dir / "unsigned.exe", "-out",
                                       dir / "after.exe"});
  ASSERT_EQ(after.status, 0) << after.out << after.err;
  ExpectSignedAndValid(dir / "after.exe", cert);

  // Extracted files are the same as from the unsigned setup.
  ASSERT_EQ(Sfx({"extract", dir / "signed.exe", "-d", dir / "x1"}).status, 0);
  ASSERT_EQ(Sfx({"extract", dir / "unsigned.exe", "-d", dir / "x2"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "x1/inst/readme.txt"), ReadFile(dir / "x2/inst/readme.txt"));

  // Bytes added after the signature: the signature no longer ends the file.
  WriteFile(dir / "grown.exe", ReadFile(dir / "signed.exe") + "appended");
  RunResult grown = Sfx({"verify", dir / "grown.exe"});
  EXPECT_EQ(grown.status, 1);
  EXPECT_NE(grown.err.find("signature: the certificate table does not end the file"), std::string::npos) << grown.err;

  // A locator whose payload runs into the certificate table: the payload is
  // not all signed, and the table's bytes are not counted as strangers after it.
  pack::SetupFile s = pack::ReadSetupFile(dir / "signed.exe");
  std::string overlapping = ReadFile(dir / "signed.exe");
  StoreLe32(&overlapping[s.locator.position + kLocatorSizeField],
            (uint32_t)(s.signature.tableOffset + 16 - s.payloadStart));
  WriteFile(dir / "overlapping.exe", overlapping);
  RunResult overlap = Sfx({"verify", dir / "overlapping.exe"});
  EXPECT_EQ(overlap.status, 1);
  EXPECT_NE(overlap.err.find("signature: the payload lies outside the signed range"), std::string::npos) << overlap.err;
  EXPECT_EQ(overlap.err.find("bytes follow the payload"), std::string::npos) << overlap.err;
}

TEST_F(Signing, KeyWithPasswordAndRefusals) {
  std::string lockedKey = dir / "locked.pem", lockedCert = dir / "locked-cert.pem";
  ASSERT_EQ(tooltest::Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-keyout", lockedKey, "-passout", "pass:s3cret",
                          "-out", lockedCert, "-days", "2", "-subj", kSubject})
                .status,
            0);
  std::vector<std::string> sign = {"pack", manifest, "-o", dir / "locked.exe", "--target", "win32",
                                   "--sign-cert", lockedCert, "--sign-key", lockedKey};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = sign;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  RunResult good = Sfx(with({"--sign-pass", "s3cret"}));
  ASSERT_EQ(good.status, 0) << good.err;
  ExpectSignedAndValid(dir / "locked.exe", lockedCert);
  fs::remove(dir / "locked.exe");

  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string message;
  } cases[] = {
      {with({"--sign-pass", "wrong"}), {}, "osslsigncode failed"},
      {with({}), {"PATH=/nonexistent"}, "signing needs osslsigncode, which is not installed"},
      {with({"--sign-pass", "s3cret"}), {"SFX_OSSLSIGNCODE=/nonexistent"}, "SFX_OSSLSIGNCODE=/nonexistent"},
      {{"pack", manifest, "-o", dir / "locked.exe", "--sign-cert", cert, "--sign-key", key}, {}, "--target win32"},
      {with({"--data-bin"}), {}, "no --data-bin"},
      {{"pack", manifest, "-o", dir / "locked.exe", "--target", "win32", "--sign-cert", cert}, {}, "--sign-key"},
  };
  for (const Case& c : cases) {
    RunResult r = Sfx(c.args, c.env);
    EXPECT_NE(r.status, 0) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(dir / "locked.exe")) << c.message;
  }
}

TEST_F(Signing, ReaderSurvivesCutAndChangedSignatures) {
  ASSERT_EQ(Sfx({"pack", manifest, "-o", dir / "signed.exe", "--target", "win32", "--sign-cert", cert,
                 "--sign-key", key})
                .status,
            0);
  std::string file = ReadFile(dir / "signed.exe");
  const uint8_t* bytes = (const uint8_t*)file.data();
  pack::PeSignature whole = pack::ReadPeSignature(bytes, file.size());
  ASSERT_TRUE(whole.present && whole.endsFile) << whole.problem;
  EXPECT_EQ(whole.signer, kSigner);
  EXPECT_EQ(whole.problem, "");

  for (size_t size = whole.tableOffset; size < file.size(); ++size) {
    pack::PeSignature cut = pack::ReadPeSignature(bytes, size);
    EXPECT_TRUE(cut.present);
    EXPECT_NE(cut.problem, "") << size;
  }
  // Every byte of the PKCS#7 blob changed in turn: a subject or a reason.
  std::string blob = file.substr(whole.tableOffset + 8);
  for (size_t i = 0; i < blob.size(); ++i) {
    std::string changed = blob;
    changed[i] = (char)(changed[i] ^ 0x5A);
    std::string problem;
    std::string subject = pack::Pkcs7SignerSubject((const uint8_t*)changed.data(), changed.size(), &problem);
    EXPECT_TRUE(!subject.empty() || !problem.empty()) << i;
  }
}

}  // namespace
}  // namespace sfx::tooltest
