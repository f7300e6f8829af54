// Temporary file names from the tick count, and whole-file read, write and delete
// with FileResult codes.
#include "codec/temp_files.h"

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"
#include "platform/large_buffer.h"
#include "platform/message_loop.h"

namespace tolmail::codec {

namespace {

using platform::File;

// Reads run in blocks this large, with one yield per block.
constexpr size_t kReadBlock = size_t{1} << 20;
constexpr uintptr_t kPageSize = 4096;

} // namespace

std::string TempFileName()
{
    return TempFileName(".TMA");
}

std::string TempFileName(std::string_view extension)
{
    std::string name = std::to_string(platform::TickCount());
    name += extension;
    return name;
}

FileResult ReadWholeFile(const std::string& path, std::string& content)
{
    if (!platform::IsNormalFile(path))
        return file_result::Missing;
    FileResult result = file_result::Ok;
    File file = File::OpenRead(path, result);
    if (!file.isOpen())
        return result;

    // Read straight into the string. The file may grow or shrink meanwhile, so the
    // length is only a first guess and the loop runs to an empty read.
    const size_t start = content.size();
    size_t used = start;
    const long long length = file.size();
    platform::ResizeLarge(content, start + (length > 0 ? static_cast<size_t>(length) : 0) + 1);
    for (;;) {
        if (used == content.size())
            content.resize(used + std::max(used / 2, kReadBlock));
        char* dest = content.data() + used;
        size_t want = std::min(content.size() - used, kReadBlock);
        // Large reads into a page-aligned destination run several times faster, so
        // the first piece only fills up to the next page boundary.
        const uintptr_t misalign = reinterpret_cast<uintptr_t>(dest) & (kPageSize - 1);
        if (misalign != 0 && want > kPageSize)
            want = kPageSize - misalign;
        platform::yieldPoint();
        const long got = file.read(dest, want, result);
        if (got <= 0) {
            content.resize(used);
            return got < 0 ? result : file_result::Ok;
        }
        used += static_cast<size_t>(got);
    }
}

FileResult WriteFileData(const std::string& path, std::string_view data, bool createNew)
{
    if (createNew && platform::IsNormalFile(path))
        return file_result::Exists;
    FileResult result = file_result::Ok;
    File file = createNew ? File::CreateNew(path, result) : File::OpenAppend(path, result);
    if (!file.isOpen())
        return result;
    if (!data.empty() && !file.write(data.data(), data.size(), result))
        return result;
    return file_result::Ok;
}

FileResult DeleteFileIfPresent(const std::string& path)
{
    if (!platform::IsNormalFile(path))
        return file_result::Missing;
    const FileResult result = platform::RemoveFile(path);
    // Removing a name never runs out of space; keep that code out of this routine.
    return result == file_result::DiskFull ? file_result::OtherFailure : result;
}

} // namespace tolmail::codec
