// File services on the system's file handles, with its error numbers mapped to the file
// result codes. Files are shared for reading, writing and deletion, so that a file the
// library holds open can still be removed, as it can elsewhere.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

#include <sddl.h>

namespace tolmail::platform {

namespace {

using win32::ToHandle;
using win32::ToInt;

// The C library's number too: layers above word a failure from errno, which the
// system's file calls do not set.
struct SystemErrorResult {
    DWORD error;
    FileResult result;
    int errnoValue;
};

// One table for the whole library; anything not listed is file_result::OtherFailure.
constexpr SystemErrorResult kSystemErrorResults[] = {
    {ERROR_DISK_FULL, file_result::DiskFull, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, file_result::DiskFull, ENOSPC},
    {ERROR_ACCESS_DENIED, file_result::PermissionDenied, EACCES},
    {ERROR_SHARING_VIOLATION, file_result::PermissionDenied, EACCES},
    {ERROR_LOCK_VIOLATION, file_result::PermissionDenied, EACCES},
    {ERROR_WRITE_PROTECT, file_result::PermissionDenied, EROFS},
    {ERROR_NOT_READY, file_result::NotReady, EIO},
    {ERROR_GEN_FAILURE, file_result::NotReady, EIO},
    {ERROR_DEV_NOT_EXIST, file_result::NotReady, ENODEV},
    {ERROR_FILE_NOT_FOUND, file_result::PathNotFound, ENOENT},
    {ERROR_PATH_NOT_FOUND, file_result::PathNotFound, ENOENT},
    {ERROR_INVALID_NAME, file_result::PathNotFound, ENOENT},
    {ERROR_BAD_PATHNAME, file_result::PathNotFound, ENOENT},
    {ERROR_INVALID_DRIVE, file_result::PathNotFound, ENOENT},
    {ERROR_BAD_NETPATH, file_result::PathNotFound, ENOENT},
    {ERROR_FILENAME_EXCED_RANGE, file_result::PathNotFound, ENAMETOOLONG},
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile take 32-bit counts.
constexpr size_t kLargestTransfer = size_t{1} << 30;

// The SDDL text of a descriptor that gives full access to this process's user (and the
// system) and nobody else, and takes nothing from the directory, so that a shared folder's
// looser rules do not reach the file. Named by the user's own SID: the generic "owner
// rights" entry is not honoured everywhere.
std::string ownerOnlyDescriptorText()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::string text;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    char* sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        text = std::string("D:P(A;;FA;;;") + sid + ")(A;;FA;;;SY)";
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

// The security attributes of the files the library creates, built once per process.
class OwnerOnly {
public:
    OwnerOnly()
    {
        const std::string text = ownerOnlyDescriptorText();
        if (!text.empty() &&
            ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
            attributes_.nLength = sizeof attributes_;
            attributes_.lpSecurityDescriptor = descriptor_;
            attributes_.bInheritHandle = FALSE;
        }
    }
    ~OwnerOnly()
    {
        if (descriptor_)
            LocalFree(descriptor_);
    }
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;

    // Null when the descriptor could not be built: the directory's default then applies.
    // CreateFile only reads it, so one instance serves every thread.
    SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

SECURITY_ATTRIBUTES* ownerOnly()
{
    static OwnerOnly security;
    return security.get();
}

FileResult mapSystemError(DWORD error)
{
    for (const auto& entry : kSystemErrorResults) {
        if (entry.error == error) {
            errno = entry.errnoValue;
            return entry.result;
        }
    }
    errno = EIO;
    return file_result::OtherFailure;
}

} // namespace

std::string BaseName(const std::string& path)
{
    const auto separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool IsNormalFile(const std::string& path)
{
    // Hidden files, like directories and devices, count as absent.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE)) == 0;
}

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() { close(); }

void File::close()
{
    if (fd_ < 0)
        return;
    CloseHandle(ToHandle(fd_));
    fd_ = -1;
}

File File::OpenRead(const std::string& path, FileResult& result)
{
    const HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        result = mapSystemError(GetLastError());
        return File();
    }
    result = file_result::Ok;
    return File(ToInt(h));
}

File File::CreateNew(const std::string& path, FileResult& result)
{
    // CREATE_NEW never opens an existing name, a link included.
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, ownerOnly(), CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (exists)
            errno = EEXIST;
        result = exists ? file_result::Exists : mapSystemError(error);
        return File();
    }
    result = file_result::Ok;
    return File(ToInt(h));
}

File File::OpenAppend(const std::string& path, FileResult& result)
{
    // Opens a link itself rather than its target, and then refuses it like a file we may
    // not write.
    const HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, kShareAll, ownerOnly(), OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        result = mapSystemError(GetLastError());
        return File();
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(h);
        result = file_result::PermissionDenied;
        return File();
    }
    result = file_result::Ok;
    return File(ToInt(h));
}

long File::read(void* buffer, size_t n, FileResult& result)
{
    DWORD got = 0;
    if (!ReadFile(ToHandle(fd_), buffer, static_cast<DWORD>(std::min(n, kLargestTransfer)), &got, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_HANDLE_EOF && error != ERROR_BROKEN_PIPE) {
            result = mapSystemError(error);
            return -1;
        }
        got = 0;
    }
    result = file_result::Ok;
    return static_cast<long>(got);
}

bool File::write(const void* data, size_t n, FileResult& result)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        DWORD put = 0;
        if (!WriteFile(ToHandle(fd_), p, static_cast<DWORD>(std::min(n, kLargestTransfer)), &put, nullptr)) {
            result = mapSystemError(GetLastError());
            return false;
        }
        p += put;
        n -= put;
    }
    result = file_result::Ok;
    return true;
}

long long File::size() const
{
    LARGE_INTEGER size{};
    if (fd_ < 0 || !GetFileSizeEx(ToHandle(fd_), &size))
        return -1;
    return static_cast<long long>(size.QuadPart);
}

FileResult RemoveFile(const std::string& path)
{
    return DeleteFileA(path.c_str()) ? file_result::Ok : mapSystemError(GetLastError());
}

} // namespace tolmail::platform
