// The path rules and the confined file system: a client argument through
// CheckPath (the lexical rules of the navigation and transfer commands) and
// ClientPathBelowRoot (those of DELE, RNFR and RNTO), then opened beneath
// the root in a tree with links that stay inside, lead out, dangle out and
// loop. The lexical results are relative and normal; nothing the confined
// file system opens lies outside the root, and its openat2 resolver and its
// component walk (the fallback without openat2) agree on what a path names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "protocol/path_rules.h"
#include "fuzz_check.h"
#include "platform/confined_fs.h"

namespace {

namespace fs = std::filesystem;
using talvek::platform::ConfinedFs;

struct Tree {
  std::string base;  // holds ftp/, a prefix-sharing sibling ftpx/ and outside/
  std::string root;  // the FTP root, with its trailing "/"
  std::string real_root;
  std::shared_ptr<const ConfinedFs> kernel;  // openat2
  std::shared_ptr<const ConfinedFs> walk;    // the component walk

  Tree() {
    char pattern[] = "/tmp/talvek-path-fuzz-XXXXXX";
    base = ::mkdtemp(pattern);
    root = base + "/ftp/";
    for (const char* dir : {"ftp/pub/deep", "ftp/alice", "ftpx", "outside"}) fs::create_directories(base + "/" + dir);
    for (const char* file : {"ftp/pub/file", "ftp/alice/notes", "ftpx/near", "outside/secret"})
      std::ofstream(base + "/" + file) << "x";
    fs::create_directory_symlink("pub", root + "in");                  // stays inside
    fs::create_directory_symlink("../outside", root + "out");          // leads out
    fs::create_symlink("../../outside/new", root + "pub/dangle");      // dangles out
    fs::create_symlink("../ftpx/near", root + "pub/near");             // a sibling sharing the prefix
    fs::create_symlink(root + "pub/file", root + "absolute");          // absolute, names a file inside
    fs::create_symlink("loop", root + "loop");                         // loops
    real_root = fs::canonical(root).string();
    kernel = ConfinedFs::Open(root).value;
    walk = ConfinedFs::Open(root, true).value;
    FUZZ_CHECK(kernel && walk, "the root opens");
  }
  ~Tree() { fs::remove_all(base); }
};

const Tree& TheTree() {
  static Tree tree;
  return tree;
}

// Where an open descriptor really is.
std::string WhereIs(int fd) {
  char target[PATH_MAX];
  ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

bool Normal(const std::string& relative) {
  if (relative.empty()) return true;
  if (relative.front() == '/' || relative.back() == '/' || relative.find("//") != std::string::npos) return false;
  std::string framed = "/" + relative + "/";
  return framed.find("/./") == std::string::npos && framed.find("/../") == std::string::npos;
}

// `relative` opened beneath the root by both resolvers.
void CheckOpened(const Tree& tree, const std::string& relative) {
  auto by_kernel = tree.kernel->open(relative, O_PATH);
  auto by_walk = tree.walk->open(relative, O_PATH);
  FUZZ_CHECK(by_kernel.ok() == by_walk.ok(), "openat2 and the walk agree whether a path opens");
  if (!by_kernel.ok()) return;
  for (int fd : {by_kernel.value.get(), by_walk.value.get()}) {
    std::string where = WhereIs(fd);
    FUZZ_CHECK(where == tree.real_root || where.starts_with(tree.real_root + "/"), "what opens lies inside the root");
  }
  struct stat a {}, b {};
  FUZZ_CHECK(::fstat(by_kernel.value.get(), &a) == 0 && ::fstat(by_walk.value.get(), &b) == 0, "fstat");
  FUZZ_CHECK(a.st_dev == b.st_dev && a.st_ino == b.st_ino, "both resolvers open the same thing");
  auto kernel_link = tree.kernel->lstat(relative);
  auto walk_link = tree.walk->lstat(relative);
  FUZZ_CHECK(kernel_link.ok() == walk_link.ok(), "both resolvers agree on lstat");
}

void CheckCheckPath(const Tree& tree, const std::string& argument, const std::string& working) {
  std::string checked = argument;
  std::string current = tree.root + (working.empty() ? "" : working + "/");
  if (!talvek::ftp::CheckPath(checked, current, tree.root)) {
    FUZZ_CHECK(checked == argument, "a refused argument is left unchanged");
    FUZZ_CHECK(argument.find("..") != std::string::npos, "only \"..\" is refused");
    return;
  }
  FUZZ_CHECK(checked.find("..") == std::string::npos, "no \"..\" in an accepted path");
  FUZZ_CHECK(checked.find('\\') == std::string::npos, "backslashes became separators");
  FUZZ_CHECK(checked.find("//") == std::string::npos, "no empty components");
  FUZZ_CHECK(checked.empty() || checked.front() != '/', "relative to the current directory");
  if (checked.find('\0') == std::string::npos) CheckOpened(tree, talvek::ftp::JoinPath(working, checked));
}

void CheckBelowRoot(const Tree& tree, const std::string& argument, const std::string& working) {
  auto below = talvek::ftp::ClientPathBelowRoot(working, argument);
  if (!below) {
    FUZZ_CHECK(argument.find('\0') != std::string::npos || argument.find("..") != std::string::npos,
               "only NUL or a climb is refused");
    return;
  }
  FUZZ_CHECK(Normal(*below), "a path below the root is relative and normal");
  CheckOpened(tree, *below);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Tree& tree = TheTree();
  FuzzedDataProvider input(data, size);
  static const char* const kWorking[] = {"", "pub", "pub/deep", "alice", "in"};
  std::string working = kWorking[input.ConsumeIntegralInRange<size_t>(0, std::size(kWorking) - 1)];
  std::string argument = input.ConsumeRemainingBytesAsString();
  CheckCheckPath(tree, argument, working);
  CheckBelowRoot(tree, argument, working);
  return 0;
}
