// Argument coercion for late-bound calls.
#include "server/arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

#include "tolmail/automation.h"
#include "tolmail/error.h"

namespace tolmail::server {
namespace {

const Variant kEmpty;

std::string Trimmed(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

/// A number from a numeric string (leading/trailing blanks allowed); nullopt otherwise.
std::optional<double> NumberFromText(const std::string& text)
{
    const std::string trimmed = Trimmed(text);
    if (trimmed.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(trimmed.c_str(), &end);
    if (end != trimmed.c_str() + trimmed.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

bool Arguments::IsMissing(size_t i) const noexcept
{
    return i >= slots_.size() || slots_[i].value->isMissing();
}

const Variant& Arguments::Value(size_t i) const
{
    return IsMissing(i) ? kEmpty : *slots_[i].value;
}

void Arguments::Mismatch(size_t i, const char* wanted) const
{
    throw Error(TM_DISP_E_TYPEMISMATCH, std::string("Type mismatch: argument ") + std::to_string(i + 1) + " of " +
                                            member_ + " must be " + wanted);
}

double Arguments::Double(size_t i) const
{
    if (IsMissing(i))
        throw Error(TM_DISP_E_PARAMNOTOPTIONAL,
                    std::string("Argument not optional: argument ") + std::to_string(i + 1) + " of " + member_);
    const Variant& v = *slots_[i].value;
    if (v.isNumber() || v.isEmpty())
        return v.toNumber();
    if (v.isString()) {
        const std::string& text = v.get<std::string>();
        if (EqualsNoCase(Trimmed(text), "true"))
            return -1;
        if (EqualsNoCase(Trimmed(text), "false"))
            return 0;
        if (auto number = NumberFromText(text))
            return *number;
    }
    Mismatch(i, "a number");
}

int32_t Arguments::Long(size_t i) const
{
    const double rounded = std::nearbyint(Double(i));  // the default mode rounds half to even
    if (rounded < std::numeric_limits<int32_t>::min() || rounded > std::numeric_limits<int32_t>::max())
        throw Error(TM_DISP_E_OVERFLOW, std::string("Overflow: argument ") + std::to_string(i + 1) + " of " +
                                            member_ + " does not fit a 32-bit integer");
    return static_cast<int32_t>(rounded);
}

int16_t Arguments::Integer(size_t i) const
{
    const int32_t value = Long(i);
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        throw Error(TM_DISP_E_OVERFLOW, std::string("Overflow: argument ") + std::to_string(i + 1) + " of " +
                                            member_ + " does not fit a 16-bit integer");
    return static_cast<int16_t>(value);
}

bool Arguments::Boolean(size_t i) const
{
    return Double(i) != 0;
}

std::string Arguments::String(size_t i) const
{
    if (IsMissing(i))
        throw Error(TM_DISP_E_PARAMNOTOPTIONAL,
                    std::string("Argument not optional: argument ") + std::to_string(i + 1) + " of " + member_);
    const Variant& v = *slots_[i].value;
    if (v.holds<tolmail::Object>())
        Mismatch(i, "a string");
    return v.toString();
}

std::shared_ptr<void> Arguments::Object(size_t i, const char* typeName) const
{
    const Variant& v = Value(i);
    if (v.holds<tolmail::Object>()) {
        const auto& object = v.get<tolmail::Object>();
        if (object.ptr && std::string_view(object.typeName) == typeName)
            return object.ptr;
    }
    Mismatch(i, typeName);
}

void Arguments::SetByRef(size_t i, Variant value)
{
    if (i < slots_.size() && slots_[i].byRef)
        *slots_[i].value = std::move(value);
}

} // namespace tolmail::server
