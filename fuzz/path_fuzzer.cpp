// The path rules and confinement: a client argument through CheckPath (the
// lexical rules of the navigation and transfer commands) and through the
// root confinement that DELE, RNFR and RNTO use, in a tree with links that
// stay inside, lead out, dangle out and loop. A path the rules accept never
// leaves the root, neither by its spelling nor through a link: the kernel's
// own RESOLVE_BENEATH walk is the referee. Retarget by replacing Confine().
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "ftp/virtual_path.h"
#include "fuzz_check.h"

namespace {

namespace fs = std::filesystem;

struct Tree {
  std::string base;  // holds ftp/, a prefix-sharing sibling ftpx/ and outside/
  std::string root;  // the FTP root, with its trailing "/"
  int root_fd = -1;

  Tree() {
    char pattern[] = "/tmp/talvek-path-fuzz-XXXXXX";
    base = ::mkdtemp(pattern);
    root = base + "/ftp/";
    for (const char* dir : {"ftp/pub/deep", "ftp/alice", "ftpx", "outside"}) fs::create_directories(base + "/" + dir);
    for (const char* file : {"ftp/pub/file", "ftp/alice/notes", "ftpx/near", "outside/secret"})
      std::ofstream(base + "/" + file) << "x";
    fs::create_directory_symlink("pub", root + "in");                     // stays inside
    fs::create_directory_symlink("../outside", root + "out");             // leads out
    fs::create_symlink("../../outside/new", root + "pub/dangle");         // dangles out
    fs::create_symlink("../ftpx/near", root + "pub/near");                // a sibling sharing the prefix
    fs::create_symlink("loop", root + "loop");                            // loops
    root_fd = ::open(root.c_str(), O_PATH | O_DIRECTORY);
  }
  ~Tree() {
    ::close(root_fd);
    fs::remove_all(base);
  }
};

const Tree& TheTree() {
  static Tree tree;
  return tree;
}

// The confinement under test: the root-confined local path, or nothing.
std::optional<std::string> Confine(const std::string& root, const std::string& path) {
  return talvek::ftp::ConfineToRoot(root, path);
}

bool Inside(const std::string& root_without_slash, const std::string& path) {
  return path == root_without_slash || path.starts_with(root_without_slash + "/");
}

// The kernel's verdict on `relative` below the root: false when resolving it
// (links included) would leave the root.
bool KernelKeepsBeneath(int root_fd, const std::string& relative) {
  if (relative.empty()) return true;
  open_how how{};
  how.flags = O_PATH;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd = ::syscall(SYS_openat2, root_fd, relative.c_str(), &how, sizeof how);
  if (fd >= 0) {
    ::close(static_cast<int>(fd));
    return true;
  }
  return errno != EXDEV;
}

void CheckCheckPath(const std::string& argument, const std::string& current, const Tree& tree) {
  std::string checked = argument;
  bool accepted = talvek::ftp::CheckPath(checked, tree.root + current, tree.root);
  if (!accepted) {
    FUZZ_CHECK(checked == argument, "a refused argument is left unchanged");
    FUZZ_CHECK(argument.find("..") != std::string::npos, "only \"..\" is refused");
    return;
  }
  FUZZ_CHECK(checked.find("..") == std::string::npos, "no \"..\" in an accepted path");
  FUZZ_CHECK(checked.find('\\') == std::string::npos, "backslashes became separators");
  FUZZ_CHECK(checked.find("//") == std::string::npos, "no empty components");
  FUZZ_CHECK(checked.empty() || checked.front() != '/', "relative to the current directory");
  std::string joined = fs::path(tree.root + current + checked).lexically_normal().string();
  FUZZ_CHECK(Inside(tree.root.substr(0, tree.root.size() - 1), joined) || joined == tree.root,
             "an accepted path stays below the root by its spelling");
}

void CheckConfinement(const std::string& argument, const std::string& current, const Tree& tree) {
  std::string local = talvek::ftp::WithLocalSeparators(argument);
  std::string path = (local.starts_with('/') ? tree.root : tree.root + current) + local;
  auto confined = Confine(tree.root, path);
  std::string root = tree.root.substr(0, tree.root.size() - 1);
  bool has_nul = path.find('\0') != std::string::npos;
  std::string normal = fs::path(path).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  if (!has_nul && !Inside(root, normal)) FUZZ_CHECK(!confined, "a path spelled outside the root is refused");
  if (!confined) return;
  FUZZ_CHECK(!has_nul, "a path with NUL is refused");
  FUZZ_CHECK(*confined == normal, "the confined path is the lexically normal path");
  FUZZ_CHECK(Inside(root, *confined), "the confined path lies below the root");
  std::string relative = confined->substr(std::min(confined->size(), root.size() + 1));
  FUZZ_CHECK(KernelKeepsBeneath(tree.root_fd, relative), "no link leads a confined path out of the root");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Tree& tree = TheTree();
  FuzzedDataProvider input(data, size);
  static const char* const kCurrent[] = {"", "pub/", "pub/deep/", "alice/", "in/"};
  std::string current = kCurrent[input.ConsumeIntegralInRange<size_t>(0, std::size(kCurrent) - 1)];
  std::string argument = input.ConsumeRemainingBytesAsString();
  CheckCheckPath(argument, current, tree);
  CheckConfinement(argument, current, tree);
  return 0;
}
