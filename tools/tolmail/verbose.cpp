// --verbose: the dialogue with the server on standard error.
#include "verbose.h"

#include "terminal_text.h"

namespace tolmail::cli {

namespace {

// Long enough for any reply a person would read; a server's endless line is cut.
constexpr size_t kLongestTracedLine = 1000;

} // namespace

void DialoguePrinter::OnDialogueLine(bool sent, const std::string& line)
{
    std::fprintf(out_, "%c %s\n", sent ? '>' : '<', Printable(line, kLongestTracedLine).c_str());
    std::fflush(out_);
}

} // namespace tolmail::cli
