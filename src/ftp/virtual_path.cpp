#include "ftp/virtual_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "server/connection_record.h"

namespace talvek::ftp {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// "/a/./b/../c" -> "/a/c"; nothing when ".." climbs above "/".
std::optional<std::string> Normalise(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::string result;
  for (const auto& part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

// The real path of the longest existing leading part of `path`, followed by
// the rest that does not exist yet.
std::optional<std::string> RealPathAllowingMissingTail(const std::string& path) {
  std::string existing = path;
  std::string tail;
  for (int depth = 0; depth < 4096; ++depth) {
    char resolved[PATH_MAX];
    if (::realpath(existing.c_str(), resolved)) {
      std::string real = resolved;
      if (!tail.empty()) real += (real == "/" ? "" : "/") + tail;
      return real;
    }
    if (errno != ENOENT) return std::nullopt;
    size_t slash = existing.find_last_of('/');
    if (slash == std::string::npos || existing == "/") return std::nullopt;
    std::string last = existing.substr(slash + 1);
    tail = tail.empty() ? last : last + "/" + tail;
    existing = slash == 0 ? "/" : existing.substr(0, slash);
  }
  return std::nullopt;
}

bool Inside(const std::string& root_real, const std::string& path_real) {
  if (path_real == root_real) return true;
  std::string prefix = root_real == "/" ? "/" : root_real + "/";
  return StartsWith(path_real, prefix);
}

}  // namespace

std::string WithLocalSeparators(std::string_view client_path) {
  std::string local(client_path);
  for (char& c : local)
    if (c == '\\') c = '/';
  return local;
}

bool CheckPath(std::string& argument, const std::string& current_directory, const std::string& ftp_root) {
  if (argument.empty()) return true;
  if (argument.find("..") != std::string::npos) return false;
  std::string path = WithLocalSeparators(argument);
  auto accept = [&] {
    argument = path;
    return true;
  };
  if (!path.empty() && path.front() == '/') path.erase(0, 1);
  if (path.empty()) return accept();
  std::string below_root =
      current_directory.size() > ftp_root.size() ? current_directory.substr(ftp_root.size()) : std::string();
  if (!below_root.empty() && StartsWith(path, below_root)) path.erase(0, below_root.size());
  if (path.empty()) return accept();
  if (path.back() == '/') path.pop_back();
  if (path.empty()) return accept();
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  if (path.empty()) return accept();
  for (size_t pair = path.find("//"); pair != std::string::npos; pair = path.find("//")) path.erase(pair, 1);
  if (path.find("/.") != std::string::npos) path.clear();
  return accept();
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool EntryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

std::optional<std::string> ConfineToRoot(const std::string& root, const std::string& local_path) {
  if (root.empty() || local_path.empty() || local_path.front() != '/') return std::nullopt;
  if (local_path.find('\0') != std::string::npos) return std::nullopt;
  auto lexical_root = Normalise(root);
  auto lexical = Normalise(local_path);
  if (!lexical_root || !lexical || !Inside(*lexical_root, *lexical)) return std::nullopt;
  auto real_root = RealPathAllowingMissingTail(*lexical_root);
  auto real = RealPathAllowingMissingTail(*lexical);
  if (!real_root || !real || !Inside(*real_root, *real)) return std::nullopt;
  return lexical;
}

std::string ConfinementRoot(const server::ConnectionRecord& record, const std::string& ftp_root) {
  std::lock_guard lock(record.text_mutex);
  if (record.logged_in && !record.root_directory.empty()) return record.root_directory;
  return ftp_root;
}

std::optional<std::string> ResolveClientPath(const server::ConnectionRecord& record, std::string_view client_path,
                                             const std::string& ftp_root) {
  std::string root = ConfinementRoot(record, ftp_root);
  std::string relative = WithLocalSeparators(client_path);
  std::string base;
  if (!relative.empty() && relative.front() == '/') {
    base = root;
  } else {
    std::lock_guard lock(record.text_mutex);
    base = record.current_directory;
  }
  return ConfineToRoot(root, base + relative);
}

std::string DisplayedPath(const std::string& current_directory, const std::string& ftp_root) {
  if (current_directory.size() <= ftp_root.size()) return "/";
  return current_directory.substr(ftp_root.size());
}

}  // namespace talvek::ftp
