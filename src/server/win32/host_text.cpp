#include "server/win32/host_text.h"

#include <climits>

namespace tolmail::server::win32 {

std::string FromHostText(const wchar_t* text, size_t length)
{
    if (!text || length == 0 || length > INT_MAX / 4)
        return {};
    const int wide = static_cast<int>(length);
    const int size = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text, wide, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

BSTR ToHostText(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > INT_MAX)
        return SysAllocStringLen(L"", 0);
    const int narrow = static_cast<int>(bytes.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), narrow, nullptr, 0);
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(size > 0 ? size : 0));
    if (text && size > 0)
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), narrow, text, size);
    return text;
}

} // namespace tolmail::server::win32
