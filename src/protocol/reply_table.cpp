#include "protocol/reply_table.h"

#include <cerrno>

namespace talvek::ftp {

namespace {

struct BuiltInReply {
  int32_t code;
  std::string_view text;
};

// Insertion order matters: it decides which records probe past their home slot.
constexpr BuiltInReply kReplies[] = {
    {110, "110 MARK yyyy = mmmm"},
    {120, "120 Service ready in nnn minutes"},
    {125, "125 Data connection already open; transfer starting"},
    {150, "150 About to open data connection"},
    {200, "200 Command OK"},
    {202, "202 Command not implemented, superfluous on this server"},
    {211, "211 System status not available"},
    {212, "212 Directory status not available"},
    {213, "213 File status not available"},
    {214, "214 Help not available"},
    {215, "215 UNIX"},
    {220, "220 Service ready for new user"},
    {221, "221 Service closing control connection. Logged out if appropriate."},
    {225, "225 Data connection open; no transfer in progress"},
    {226, "226 Closing data connection. Requested file action successful."},
    {227, "227 Entering Passive Mode"},
    {230, "230 User logged in, proceed"},
    {250, "250 Requested file action okay, completed."},
    {257, "257 \"current directory\""},
    {331, "331 User name okay, need password"},
    {332, "332 Need account for login"},
    {350, "350 Requested file action pending further information"},
    {421, "421 Service not available, closing control connection."},
    {425, "425 Can't open data connection"},
    {426, "426 Connection closed; transfer aborted"},
    {450, "450 Requested file action not executed"},
    {451, "451 Requested action aborted: local error in processing"},
    {452, "452 Requested action not taken. Insufficient reserved storage space on system"},
    {500, "500 Syntax error, command unrecognized"},
    {501, "501 Syntax error in parameters or arguments"},
    {502, "502 Command not implemented"},
    {503, "503 Bad sequence of commands"},
    {504, "504 Command not implemented for that parameter"},
    {530, "530 Not logged on"},
    {532, "532 Need account for storing files"},
    {550, "550 Requested action not taken. File unavailable"},
    {551, "551 Requested action aborted: page type unknown"},
    {552, "552 Requested file action aborted. Exceeded storage allocation"},
    {553, "553 Requested action not taken. File name not allowed"},
};

constexpr std::string_view kDefaultReply = "202 Command not implemented, superfluous on this server";
constexpr std::string_view kLocalError = "451 Requested action aborted: local error in processing";

struct FileErrorRow {
  int cause;
  std::string_view text;
};

constexpr FileErrorRow kFileErrors[] = {
    {1, kLocalError},
    {2, "550 Requested action not taken. File unavailable. File does not exist"},
    {3, "501 Syntax error in parameters or arguments"},
    {4, kLocalError},
    {5, "550 Requested action not taken. File unavailable: Access denied"},
    {6, "550 Requested action not taken. File unavailable: Invalid file"},
    {7, "550 Requested action not taken. File unavailable"},
    {8, "452 Requested action not taken. Insufficient reserved storage space on system"},
    {9, kLocalError},
    {10, kLocalError},
    {11, kLocalError},
    {12, kLocalError},
    {13, "452 Requested action not taken. Insufficient reserved storage space on system"},
    {14, kLocalError},
};

}  // namespace

ReplyTable::ReplyTable() {
  slots_.fill(-1);
  for (size_t i = 0; i < std::size(kReplies); ++i) {
    int64_t key = 47LL * kReplies[i].code;
    for (int distance = 0; distance < kSlots; ++distance) {
      auto& slot = slots_[static_cast<size_t>((key + distance) % kSlots)];
      if (slot < 0) {
        slot = static_cast<int16_t>(i);
        break;
      }
    }
  }
}

int ReplyTable::slotOf(int code) const {
  int64_t key = 47LL * code;
  for (int distance = 0; distance < kSlots; ++distance) {
    int index = static_cast<int>(((key + distance) % kSlots + kSlots) % kSlots);
    int16_t entry = slots_[static_cast<size_t>(index)];
    if (entry < 0) return -1;
    if (kReplies[entry].code == code) return index;
  }
  return -1;
}

std::string ReplyTable::text(int code) const {
  int slot = slotOf(code);
  if (slot < 0) return std::string(kDefaultReply);
  return std::string(kReplies[slots_[static_cast<size_t>(slot)]].text);
}

const ReplyTable& ReplyTable::instance() {
  static const ReplyTable table;
  return table;
}

std::string FileErrorReply(int cause) {
  for (const auto& row : kFileErrors)
    if (row.cause == cause) return std::string(row.text);
  return std::string(kLocalError);
}

int FileErrorCauseFromErrno(int errno_value) {
  switch (errno_value) {
    case ENOENT: return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return kBadPath;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EEXIST:
    case ENOTEMPTY:
    case EISDIR:
    case EXDEV: return kAccessDenied;
    case EBUSY: return kSharingViolation;
    case ENOSPC:
    case EDQUOT: return kDiskFull;
    case EFBIG: return kDirectoryFull;
    case EIO: return kHardIO;
    case ESPIPE: return kBadSeek;
    default: return kGenericFileError;
  }
}

}  // namespace talvek::ftp
