// The i686 runs happen inside the namespaces of "i686-env.sh exec" (a
// binfmt_misc entry for qemu-user, the i386 root): unless it is already
// there, or only lists its tests, this program starts itself again through
// that script, which says why and exits 77 (skipped) or, in CI, 1 when the
// environment cannot be entered.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], "--gtest_list_tests", 18) == 0) listing = true;
  if (!listing && getenv("SFX_I686_ROOT") == nullptr) {
    char self[PATH_MAX];
    if (realpath("/proc/self/exe", self) == nullptr) {
      perror("/proc/self/exe");
      return 1;
    }
    std::vector<char*> args = {const_cast<char*>(SFX_I686_ENV_SCRIPT), const_cast<char*>("exec"),
                               self};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(args[0], args.data());
    perror(SFX_I686_ENV_SCRIPT);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
