// The confined root, with the kernel's resolver and with the fallback walk:
// the same table of paths must give the same answers in both. (That the
// root itself is never removed or moved, whatever the resolver, is the
// hostile-client suite's.)
#include "platform/confined_fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace talvek::platform {
namespace {

namespace fs = std::filesystem;

class ConfinedFsTest : public ::testing::TestWithParam<bool> {
 protected:
  ConfinedFsTest() {
    tree_.write("root/sub/file.txt", "inside");
    tree_.write("secret.txt", "outside");
    std::string root = tree_.dir() + "root/";
    for (auto [name, target] : {std::pair<std::string, std::string>{"in-rel", "sub/file.txt"},
                                {"in-abs", root + "sub"},
                                {"out-abs", tree_.dir() + "secret.txt"}, {"out-rel", "../secret.txt"},
                                {"out-dangling", tree_.dir() + "planted.txt"}, {"magic", "/proc/self/cwd"},
                                {"loop", "loop"}})
      fs::create_symlink(target, root + name);
    fs::create_symlink("../in-rel", root + "sub/up");
    root_ = ConfinedFs::Open(root, GetParam()).value;
  }
  // The content read at `path`, or the errno.
  std::string read(const std::string& path) {
    auto file = root_->open(path, O_RDONLY);
    if (!file.ok()) return "errno " + std::to_string(file.error);
    char buffer[64];
    ssize_t got = ::read(file.value.get(), buffer, sizeof buffer);
    return got < 0 ? "read error" : std::string(buffer, static_cast<size_t>(got));
  }

  test::TempDir tree_;
  std::shared_ptr<const ConfinedFs> root_;
};

TEST_P(ConfinedFsTest, PathsResolveInsideOrFail) {
  ASSERT_TRUE(root_);
  const std::string kExdev = "errno " + std::to_string(EXDEV);
  for (const auto& [path, expected] : std::initializer_list<std::pair<std::string, std::string>>{
           {"sub/file.txt", "inside"}, {"sub/./file.txt", "inside"}, {"sub/../sub/file.txt", "inside"},
           {"in-rel", "inside"}, {"in-abs/file.txt", "inside"}, {"sub/up", "inside"},
           {"../secret.txt", kExdev}, {"sub/../../secret.txt", kExdev}, {tree_.dir() + "secret.txt", kExdev},
           {"out-abs", kExdev}, {"out-rel", kExdev}, {"magic", kExdev}, {"magic/root/etc/passwd", kExdev},
           {"loop", "errno " + std::to_string(ELOOP)}, {"sub/file.txt/", "errno " + std::to_string(ENOTDIR)},
           {std::string("sub\0/../..", 10), "errno " + std::to_string(EINVAL)}})
    EXPECT_EQ(read(path), expected) << path;
  EXPECT_EQ(root_->open("out-dangling", O_WRONLY | O_CREAT, 0644).error, EXDEV);
  EXPECT_EQ(root_->open("out-abs", O_WRONLY | O_CREAT | O_EXCL, 0644).error, EEXIST);
  EXPECT_NE(root_->removeFile("out-rel/../secret.txt"), 0);
  EXPECT_EQ(root_->rename("out-abs", "sub/moved-link"), 0);  // the link itself moves, inside
  EXPECT_FALSE(fs::exists(tree_.path() / "planted.txt"));
  EXPECT_EQ(test::ReadFile(tree_.path() / "secret.txt"), "outside");
}

INSTANTIATE_TEST_SUITE_P(Resolvers, ConfinedFsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Walk" : "Kernel"; });

}  // namespace
}  // namespace talvek::platform
