// Progress display for long jobs of the tolmail commands (sending, fetching).
#include "progress.h"

#include "system.h"

namespace tolmail::cli {

namespace {

constexpr int kBarWidth = 30;

int scaled(int64_t done, int64_t total, int scale)
{
    if (total <= 0)
        return scale;
    if (done >= total)
        return scale;
    return static_cast<int>(done * scale / total);
}

std::string shortLabel(const std::string& label)
{
    constexpr size_t kMax = 40;
    if (label.size() <= kMax)
        return label;
    // The end is kept, from the start of a UTF-8 character.
    size_t from = label.size() - (kMax - 3);
    while (from < label.size() && (static_cast<unsigned char>(label[from]) & 0xC0) == 0x80)
        ++from;
    return "..." + label.substr(from);
}

} // namespace

Progress::Style Progress::StyleFor(std::FILE* out, bool quiet)
{
    if (quiet)
        return Style::Quiet;
    return sys::IsTerminal(fileno(out)) ? Style::Bar : Style::Lines;
}

void Progress::update(const std::string& label, int64_t done, int64_t total, const char* unit)
{
    if (style_ == Style::Quiet)
        return;
    if (label != label_) {
        end();
        label_ = label;
        lastTenth_ = lastPermille_ = -1;
    }
    if (style_ == Style::Bar) {
        drawBar(done, total);
        return;
    }
    const int tenth = scaled(done, total, 10);
    if (tenth == lastTenth_)
        return;
    lastTenth_ = tenth;
    std::fprintf(out_, "%s: %lld of %lld %s (%d%%)\n", label_.c_str(), static_cast<long long>(done),
                 static_cast<long long>(total), unit, tenth * 10);
}

void Progress::finish(const std::string& label, int64_t done, int64_t total, const char* unit)
{
    if (style_ == Style::Quiet)
        return;
    update(label, done, total, unit);
    end();
}

void Progress::drawBar(int64_t done, int64_t total)
{
    const int permille = scaled(done, total, 1000);
    if (permille == lastPermille_)
        return;
    lastPermille_ = permille;
    const int filled = permille * kBarWidth / 1000;
    std::fprintf(out_, "\r%-40s [%s%s] %3d.%d%%", shortLabel(label_).c_str(), std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, ' ').c_str(), permille / 10, permille % 10);
    std::fflush(out_);
    barOpen_ = true;
}

void Progress::end()
{
    if (barOpen_)
        std::fputc('\n', out_);
    barOpen_ = false;
    label_.clear();
}

} // namespace tolmail::cli
