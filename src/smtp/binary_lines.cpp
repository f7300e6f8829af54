// The check of data for a "binary" part: CR LF lines only, none longer than SMTP
// carries, no boundary (RFC 5321 4.5.3.1.6, RFC 2046 5.1.1).
#include "smtp/binary_lines.h"

#include <algorithm>

#include "platform/message_loop.h"
#include "smtp/chunk_reader.h"

namespace tolmail::smtp {

namespace {

constexpr size_t kLongestLine = 998;  // octets before the CR LF
constexpr size_t kScanChunk = 256 * 1024;

} // namespace

BinaryLineCheck::BinaryLineCheck(std::string boundary)
    : boundary_(std::move(boundary)), searcher_(boundary_.begin(), boundary_.end())
{
}

bool BinaryLineCheck::feed(std::string_view piece)
{
    if (!ok_ || piece.empty())
        return ok_;
    for (size_t i = 0; i < piece.size(); ++i) {
        const char c = piece[i];
        if (pendingCr_ && c != '\n')
            return ok_ = false;
        if (c == '\r') {
            pendingCr_ = true;
        } else if (c == '\n') {
            if (!pendingCr_)
                return ok_ = false;
            pendingCr_ = false;
            lineLength_ = 0;
        } else if (++lineLength_ > kLongestLine) {
            return ok_ = false;
        }
    }
    if (!boundary_.empty()) {
        // A boundary may straddle the cut: the end of the data before and the start of
        // this piece are searched together.
        const size_t keep = boundary_.size() - 1;
        std::string window = tail_;
        window.append(piece.substr(0, std::min(keep, piece.size())));
        if (std::search(window.begin(), window.end(), searcher_) != window.end() ||
            std::search(piece.begin(), piece.end(), searcher_) != piece.end())
            return ok_ = false;
        if (piece.size() >= keep) {
            tail_.assign(piece.substr(piece.size() - keep));
        } else {
            tail_.append(piece);
            tail_.erase(0, tail_.size() > keep ? tail_.size() - keep : 0);
        }
    }
    return ok_;
}

platform::FileResult CheckBinaryFile(const std::string& filename, const std::string& boundary, bool& sendable)
{
    sendable = false;
    platform::FileResult result = file_result::Ok;
    platform::File file = platform::File::OpenRead(filename, result);
    if (!file.isOpen())
        return result == file_result::Ok ? file_result::OtherFailure : result;
    ChunkReader reader(file);
    BinaryLineCheck check(boundary);
    for (;;) {
        platform::yieldPoint();
        const std::string_view chunk = reader.next(kScanChunk, result);
        if (result != file_result::Ok)
            return result;
        if (chunk.empty())
            break;
        if (!check.feed(chunk))
            return file_result::Ok;
    }
    sendable = check.finish();
    return file_result::Ok;
}

} // namespace tolmail::smtp
