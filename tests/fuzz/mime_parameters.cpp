// Fuzz target: Content-Type / Content-Disposition parameter lists of any text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/mime_parameters.h"
#include "platform/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parameters = tolmail::codec::ParseMimeParameters(text);
    if (parameters.size() > tolmail::codec::kMaxParameters)
        abort();
    for (const auto& parameter : parameters) {
        if (parameter.name.empty() || (parameter.extended && !tolmail::platform::IsUtf8(parameter.value)))
            abort();
        const auto value = tolmail::codec::ParameterText(parameters, parameter.name);
        if (!value || !tolmail::platform::IsUtf8(*value))
            abort();
    }
    return 0;
}
