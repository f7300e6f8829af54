#include "output.h"

#include <cstdio>

namespace script_host {
namespace {

void WriteLine(DWORD stream, std::wstring_view text)
{
    std::wstring line(text);
    line += L"\r\n";
    HANDLE handle = GetStdHandle(stream);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), size, nullptr,
                        nullptr);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

/// What the system says of an error code, for engines that give no description (Wine's
/// VBScript); "error" when it knows nothing either.
std::wstring SystemText(HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer),
                                        0, nullptr);
    std::wstring text = length != 0 ? std::wstring(buffer, length) : L"error";
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return text;
}

} // namespace

void EchoLine(std::wstring_view text) { WriteLine(STD_OUTPUT_HANDLE, text); }

void Complain(std::wstring_view text) { WriteLine(STD_ERROR_HANDLE, text); }

std::wstring HresultText(HRESULT code)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::wstring ExceptionText(EXCEPINFO& info, HRESULT fallback)
{
    if (info.pfnDeferredFillIn != nullptr) {
        info.pfnDeferredFillIn(&info);
        info.pfnDeferredFillIn = nullptr;
    }
    const HRESULT code = info.scode != 0 ? info.scode : fallback;
    std::wstring text;
    if (info.bstrSource != nullptr && SysStringLen(info.bstrSource) != 0) {
        text += info.bstrSource;
        text += L": ";
    }
    if (info.bstrDescription != nullptr && SysStringLen(info.bstrDescription) != 0)
        text += info.bstrDescription;
    else
        text += SystemText(code);
    text += L" (" + HresultText(code) + L")";
    return text;
}

} // namespace script_host
