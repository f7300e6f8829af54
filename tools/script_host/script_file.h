// A script file's text and the engine its name asks for.
#pragma once

#include <optional>
#include <string>

#include "script_engine.h"

namespace script_host {

/// VBScript for .vbs, JScript for .js (in any case); nothing for other names.
std::optional<ScriptLanguage> LanguageOf(const std::wstring& path);

/// The file's text: UTF-16 with its byte-order mark, UTF-8 with or without one, else the
/// system's code page, as older scripts are written. Nothing when it cannot be read.
std::optional<std::wstring> ReadScriptText(const std::wstring& path);

} // namespace script_host
