#include "tool/signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pack/atomic_output.h"
#include "pack/authenticode.h"
#include "pack/setup_reader.h"
#include "tool/scratch_folder.h"
#include "tool/tool_error.h"

extern char** environ;

namespace sfx::tool {
namespace {

bool IsExecutable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string LastLine(const std::string& path) {
  std::string text;
  try {
    pack::Bytes bytes = pack::ReadHostFile(path);
    text.assign(bytes.begin(), bytes.end());
  } catch (const pack::ReadError&) {
    return "";
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  size_t nl = text.find_last_of('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

// Runs argv[0] with its output (both streams) into logPath; the exit status,
// or -1 when it did not exit normally.
int RunLogged(std::vector<std::string> argv, const std::string& logPath) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw ToolError("signing: cannot start " + argv[0] + ": " + strerror(rc));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw ToolError("signing: lost " + argv[0] + ": " + strerror(errno));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string FindSigner() {
  const char* env = getenv("SFX_OSSLSIGNCODE");
  if (env != nullptr && env[0] != '\0') {
    if (!IsExecutable(env)) throw ToolError(std::string("signing: SFX_OSSLSIGNCODE=") + env + " is not a program");
    return env;
  }
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  for (size_t start = 0; start <= dirs.size();) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(start, colon - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/osslsigncode";
    if (IsExecutable(candidate)) return candidate;
    start = colon + 1;
  }
  throw ToolError(
      "signing needs osslsigncode, which is not installed (Debian: apt-get install osslsigncode); or pack "
      "without signing and sign afterwards: osslsigncode sign -certs CERT -key KEY -in SETUP -out SIGNED");
}

pack::Bytes SignImage(const pack::Bytes& image, const SignOptions& o) {
  if (o.cert.empty() || o.key.empty()) throw ToolError("signing needs both --sign-cert and --sign-key");
  std::string signer = FindSigner();
  ScratchFolder scratch("sfx-sign");
  std::string in = scratch / "unsigned.exe", out = scratch / "signed.exe", log = scratch / "log";
  pack::WriteAtomically(in, image.data(), image.size(), 0600);
  std::vector<std::string> argv = {signer, "sign", "-certs", o.cert, "-key", o.key, "-h", "sha256"};
  if (!o.pass.empty()) {
    // Through a file, so the password is not on a command line others can read.
    std::string passFile = scratch / "pass";
    pack::WriteAtomically(passFile, (const uint8_t*)o.pass.data(), o.pass.size(), 0600);
    argv.insert(argv.end(), {"-readpass", passFile});
  }
  if (!o.timestamp.empty()) argv.insert(argv.end(), {"-ts", o.timestamp});
  argv.insert(argv.end(), {"-in", in, "-out", out});
  int status = RunLogged(argv, log);
  if (status != 0) {
    std::string last = LastLine(log);
    throw ToolError("osslsigncode failed (exit status " + std::to_string(status) + ")" +
                    (last.empty() ? "" : ": " + last));
  }
  pack::Bytes signedImage;
  try {
    signedImage = pack::ReadHostFile(out);
  } catch (const pack::ReadError& e) {
    throw ToolError(std::string("signing: ") + e.what());
  }
  // Only the PE headers (checksum, security directory) may change; the rest
  // of the image, payload included, must come back as it was, followed by
  // the certificate table.
  pack::PeSignature sig = pack::ReadPeSignature(signedImage.data(), signedImage.size());
  size_t headersEnd = pack::ReadPeSignature(image.data(), image.size()).headersEnd;
  if (!sig.present || !sig.endsFile || sig.tableOffset < image.size() || headersEnd == 0 ||
      std::memcmp(signedImage.data() + headersEnd, image.data() + headersEnd, image.size() - headersEnd) != 0)
    throw ToolError("signing: osslsigncode's output does not carry the setup unchanged before its signature");
  return signedImage;
}

}  // namespace sfx::tool
