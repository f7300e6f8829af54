// A progress display on standard error for the tolmail commands: a redrawn bar on a
// terminal, occasional plain lines otherwise, nothing when quiet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tolmail::cli {

class Progress {
public:
    enum class Style { Quiet, Lines, Bar };

    /// Bar when `out` is a terminal, plain lines otherwise, nothing when quiet.
    static Style StyleFor(std::FILE* out, bool quiet);

    explicit Progress(Style style, std::FILE* out = stderr) : style_(style), out_(out) {}
    ~Progress() { end(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// `done` of `total` units (named by `unit` in plain lines) of the job named `label`
    /// (a new label starts a new job). Cheap when called often: output is written only
    /// when it would change visibly.
    void update(const std::string& label, int64_t done, int64_t total, const char* unit = "bytes");
    /// The job is complete; a bar is finished with a line end.
    void finish(const std::string& label, int64_t done, int64_t total, const char* unit = "bytes");

private:
    void end();
    void drawBar(int64_t done, int64_t total);

    Style style_;
    std::FILE* out_;
    std::string label_;
    int lastTenth_ = -1;     // plain lines: the last 10 % step written
    int lastPermille_ = -1;  // bar: the last 0.1 % step drawn
    bool barOpen_ = false;
};

} // namespace tolmail::cli
