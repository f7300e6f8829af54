// Temporary file names and the file routines with their FileResult codes.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace tolmail::codec {

using platform::FileResult;

/// Decimal tick count followed by ".TMA".
std::string TempFileName();
/// Decimal tick count followed by another extension (".TMB" for message texts).
std::string TempFileName(std::string_view extension);
/// Appends the file's bytes to content; what was read before a failure stays there.
FileResult ReadWholeFile(const std::string& path, std::string& content);
/// createNew: exclusive creation (an existing name or link gives file_result::Exists and is
/// never written through); otherwise append.
FileResult WriteFileData(const std::string& path, std::string_view data, bool createNew);
FileResult DeleteFileIfPresent(const std::string& path);

} // namespace tolmail::codec
