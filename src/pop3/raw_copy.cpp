// The message as it arrived, written to the cache while it streams.
#include "pop3/raw_copy.h"

#include <cerrno>
#include <system_error>

#include "codec/temp_files.h"
#include "pop3/message_impl.h"

namespace tolmail::pop3 {

namespace {
// Written in blocks of this size: few system calls, and memory stays flat.
constexpr size_t kBlock = 256 * 1024;
} // namespace

RawCopy::~RawCopy()
{
    if (file_.isOpen())
        discard();
}

bool RawCopy::create(const std::string& directory)
{
    std::string name;
    platform::FileResult result = file_result::Ok;
    errno = 0;
    file_ = CreateTempFile(directory, name, result, ".EML");
    if (!file_.isOpen()) {
        // Every candidate name taken leaves errno at EEXIST, which says it well enough.
        fail("cannot create a file in " + directory, errno != 0 ? errno : EEXIST);
        return false;
    }
    path_ = directory + name;
    return true;
}

void RawCopy::headerLine(std::string_view line)
{
    // A line that begins with a dot came with one more; the terminating line never
    // reaches here.
    if (!line.empty() && line.front() == '.')
        line.remove_prefix(1);
    body(line);
}

void RawCopy::body(std::string_view text)
{
    if (failed_)
        return;
    buffer_.append(text);
    if (buffer_.size() >= kBlock)
        (void)flush();
}

bool RawCopy::finish()
{
    const bool written = flush();
    file_.close();
    return written;
}

void RawCopy::discard()
{
    file_.close();
    buffer_.clear();
    if (!path_.empty())
        (void)codec::DeleteFileIfPresent(path_);
}

bool RawCopy::flush()
{
    if (failed_)
        return false;
    platform::FileResult result = file_result::Ok;
    if (!buffer_.empty() && !file_.write(buffer_.data(), buffer_.size(), result)) {
        fail("cannot write " + path_, errno);
        return false;
    }
    buffer_.clear();
    return true;
}

void RawCopy::fail(const std::string& what, int error)
{
    failed_ = true;
    buffer_.clear();
    buffer_.shrink_to_fit();
    // errno's own words: on Windows the system category reads the number as a system
    // error code, which names something else.
    why_ = what + ": " + std::generic_category().message(error);
}

} // namespace tolmail::pop3
