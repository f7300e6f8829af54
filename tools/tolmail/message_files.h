// The files of one downloaded message in the save directory (tolmail fetch --save-dir).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "save_dir.h"
#include "tolmail/Message.h"

namespace tolmail::cli {

/// Parts below this size stay in memory; larger ones wait in the cache directory. One
/// message is held at a time, so this bounds the memory a mailbox can take.
inline constexpr int32_t kPartsInMemory = 1024 * 1024;

/// Writes the message's text (message-N.txt), saves its attachments under their safe
/// names and, with `whole`, moves the message as it arrived into message-N.eml; one
/// line on standard output for each file saved, one on standard error for each that
/// failed. `saving` hears each attachment's name before it is saved (for progress).
/// EX_OK when every file was written whole, else the exit status of the first failure.
int SaveMessageFiles(Message& message, int number, const SaveDir& dir, bool whole, const std::string& cache,
                     const std::function<void(const std::string& name)>& saving);

} // namespace tolmail::cli
