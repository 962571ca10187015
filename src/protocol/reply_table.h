// The reply vocabulary: reply code to reply text, an open-addressed table of
// 211 slots built once and then only read (by any thread, without locks).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvek::ftp {

class ReplyTable {
 public:
  static constexpr int kSlots = 211;

  ReplyTable();  // inserts the 39 built-in replies in their fixed order

  // The reply text for `code`, or the 202 text when the code is unknown.
  std::string text(int code) const;
  // Slot holding `code`, or -1 (exposed for tests of the probe rule).
  int slotOf(int code) const;

  static const ReplyTable& instance();

 private:
  // Each slot is empty (-1) or the index of a built-in reply.
  std::array<int16_t, kSlots> slots_;
};

// Shorthand for ReplyTable::instance().text(code).
inline std::string Reply(int code) { return ReplyTable::instance().text(code); }

// Text for a file error cause (1 generic ... 14 end of file); 451 for others.
std::string FileErrorReply(int cause);

// File error causes, numbered as the file-error reply table numbers them.
enum FileErrorCause : int {
  kGenericFileError = 1,
  kFileNotFound = 2,
  kBadPath = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidFile = 6,
  kRemoveCurrentDir = 7,
  kDirectoryFull = 8,
  kBadSeek = 9,
  kHardIO = 10,
  kSharingViolation = 11,
  kLockViolation = 12,
  kDiskFull = 13,
  kEndOfFile = 14,
};

// The cause that describes an errno value from a file operation.
int FileErrorCauseFromErrno(int errno_value);

}  // namespace talvek::ftp
