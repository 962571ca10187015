#include "protocol/path_rules.h"

#include <algorithm>
#include <vector>

namespace talvek::ftp {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string WithLocalSeparators(std::string_view client_path) {
  std::string local(client_path);
  for (char& c : local)
    if (c == '\\') c = '/';
  return local;
}

}  // namespace

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
  // A "." step names the directory it stands in; other dotted names are names.
  std::string steps;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find('/', start), path.size());
    if (std::string_view part(path.data() + start, end - start); part != ".")
      steps += (steps.empty() ? "" : "/") + std::string(part);
    start = end + 1;
  }
  path = steps;
  return accept();
}

std::optional<std::string> ClientPathBelowRoot(std::string_view working, std::string_view client_path) {
  if (client_path.find('\0') != std::string_view::npos) return std::nullopt;
  std::string path = WithLocalSeparators(client_path);
  if (path.empty() || path.front() != '/') path = std::string(working) + "/" + path;
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
  for (const auto& part : parts) result += (result.empty() ? "" : "/") + part;
  return result;
}

std::string JoinPath(const std::string& directory, const std::string& relative) {
  if (directory.empty()) return relative;
  if (relative.empty()) return directory;
  return directory + "/" + relative;
}

std::optional<std::string> BelowRoot(const std::string& root, const std::string& absolute) {
  std::string bare = root.empty() || root.back() != '/' ? root : root.substr(0, root.size() - 1);
  if (absolute == bare || absolute == root) return std::string();
  if (root.empty() || !StartsWith(absolute, root)) return std::nullopt;
  std::string rest = absolute.substr(root.size());
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  return rest;
}

std::string DisplayedPath(const std::string& current_directory, const std::string& ftp_root) {
  if (current_directory.size() <= ftp_root.size()) return "/";
  return current_directory.substr(ftp_root.size());
}

}  // namespace talvek::ftp
