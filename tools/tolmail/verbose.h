// --verbose: the dialogue with the server on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "tolmail/dialogue_trace.h"

namespace tolmail::cli {

/// Prints each line of the dialogue as "> command" or "< reply". The server's lines are
/// made printable first: a hostile server must not drive the user's terminal.
class DialoguePrinter : public DialogueTrace {
public:
    explicit DialoguePrinter(std::FILE* out = stderr) : out_(out) {}
    void OnDialogueLine(bool sent, const std::string& line) override;

private:
    std::FILE* out_;
};

} // namespace tolmail::cli
