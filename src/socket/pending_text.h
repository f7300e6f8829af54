// The component's line buffer: text taken from the receive buffer but not yet handed
// out. Lines leave from the front without moving the rest each time.
#pragma once

#include <string>

namespace tolmail::socket {

class PendingText {
public:
    bool empty() const noexcept { return start_ == text_.size(); }
    size_t size() const noexcept { return text_.size() - start_; }

    void append(std::string&& more)
    {
        if (more.empty())
            return;
        if (empty()) {
            text_ = std::move(more);
            start_ = scanned_ = 0;
            return;
        }
        text_.append(more);
    }

    /// The length of the first line with its CR LF, or 0 when no CR LF has arrived.
    /// Remembers how far it looked, so a long line is not searched again from its start.
    size_t lineLength()
    {
        size_t at = text_.find("\r\n", scanned_ > start_ ? scanned_ : start_);
        if (at == std::string::npos) {
            // A CR at the very end may still pair with the next LF.
            scanned_ = text_.empty() ? 0 : text_.size() - 1;
            return 0;
        }
        return at + 2 - start_;
    }

    std::string takeFront(size_t length)
    {
        std::string front = text_.substr(start_, length);
        start_ += length;
        scanned_ = start_;
        compact();
        return front;
    }

    /// Drops everything but a CR at the very end, which may still pair with the next LF.
    void dropAllButTrailingCR()
    {
        bool cr = !empty() && text_.back() == '\r';
        text_.clear();
        start_ = scanned_ = 0;
        if (cr)
            text_.push_back('\r');
    }

    bool endsWithCR() const noexcept { return !empty() && text_.back() == '\r'; }

    std::string takeAll()
    {
        std::string all = start_ == 0 ? std::move(text_) : text_.substr(start_);
        text_.clear();
        start_ = scanned_ = 0;
        return all;
    }

private:
    // Drops consumed text once it is the larger part, keeping each line's removal cheap.
    void compact()
    {
        if (start_ < 4096 || start_ * 2 < text_.size())
            return;
        text_.erase(0, start_);
        scanned_ -= start_;
        start_ = 0;
    }

    std::string text_;
    size_t start_ = 0;
    size_t scanned_ = 0;
};

} // namespace tolmail::socket
