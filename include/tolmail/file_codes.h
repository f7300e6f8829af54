// The result codes of the file operations: Attachment.Save, TolvanSMTP's
// ImportMailBody, and the file failures that TolvanSMTP's attachments meet.
#pragma once

#include <cstdint>

namespace tolmail::file_result {

/// The file was read or written whole.
inline constexpr int32_t Ok = 0;
/// The target already exists; nothing was written (Attachment.Save).
inline constexpr int32_t Exists = 1;
/// Attachment.Save: Filename is empty; nothing was written.
inline constexpr int32_t EmptyFilename = 1;
/// The disk is full.
inline constexpr int32_t DiskFull = 2;
/// Permission denied: the file is locked, read-only, or not readable.
inline constexpr int32_t PermissionDenied = 4;
/// The device is not ready, or failed.
inline constexpr int32_t NotReady = 8;
/// Attachment.Save's code for permission denied while a temporary file is decoded
/// (Save of a body held in memory gives PermissionDenied).
inline constexpr int32_t SavePermissionDenied = 9;
/// A directory on the path does not exist.
inline constexpr int32_t PathNotFound = 16;
/// The file to read does not exist: ImportMailBody's file, or Attachment.Save's
/// temporary file.
inline constexpr int32_t Missing = 32;
/// Any other failure, a body that does not decode included.
inline constexpr int32_t OtherFailure = 64;

} // namespace tolmail::file_result
