#include "script_file.h"

#include <cstdio>
#include <memory>

#include "com.h"

namespace script_host {
namespace {

bool EndsWith(const std::wstring& path, const wchar_t* suffix)
{
    const size_t length = wcslen(suffix);
    return path.size() > length && lstrcmpiW(path.c_str() + path.size() - length, suffix) == 0;
}

std::wstring Decoded(const std::string& bytes, UINT codePage, DWORD flags)
{
    const int size = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

} // namespace

std::optional<ScriptLanguage> LanguageOf(const std::wstring& path)
{
    if (EndsWith(path, L".vbs"))
        return ScriptLanguage::VBScript;
    if (EndsWith(path, L".js"))
        return ScriptLanguage::JScript;
    return std::nullopt;
}

std::optional<std::wstring> ReadScriptText(const std::wstring& path)
{
    const std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"rb"), fclose);
    if (!file)
        return std::nullopt;
    std::string bytes;
    char buffer[8192];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        bytes.append(buffer, got);
    if (ferror(file.get()))
        return std::nullopt;

    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.erase(0, 3);
    if (bytes.empty())
        return std::wstring();
    std::wstring text = Decoded(bytes, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (text.empty())
        text = Decoded(bytes, CP_ACP, 0);
    return text;
}

} // namespace script_host
