// Conversions of the automation value type.
#include "tolmail/variant.h"

#include <cmath>
#include <cstdio>

namespace tolmail {

double Variant::toNumber() const
{
    struct Visitor {
        double operator()(std::monostate) const { return 0; }
        double operator()(bool v) const { return v ? -1 : 0; }
        double operator()(uint8_t v) const { return v; }
        double operator()(int16_t v) const { return v; }
        double operator()(int32_t v) const { return v; }
        double operator()(float v) const { return v; }
        double operator()(double v) const { return v; }
        double operator()(const std::string& v) const { return std::strtod(v.c_str(), nullptr); }
        double operator()(const Bytes&) const { return 0; }
        double operator()(const Object&) const { return 0; }
        double operator()(Missing) const { return 0; }
    };
    return std::visit(Visitor{}, value_);
}

std::string Variant::toString() const
{
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(bool v) const { return v ? "True" : "False"; }
        std::string operator()(uint8_t v) const { return std::to_string(v); }
        std::string operator()(int16_t v) const { return std::to_string(v); }
        std::string operator()(int32_t v) const { return std::to_string(v); }
        std::string operator()(float v) const { return (*this)(static_cast<double>(v)); }
        std::string operator()(double v) const
        {
            if (std::floor(v) == v && std::fabs(v) < 1e15)
                return std::to_string(static_cast<long long>(v));
            char text[32];
            std::snprintf(text, sizeof text, "%.15g", v);
            return text;
        }
        std::string operator()(const std::string& v) const { return v; }
        std::string operator()(const Bytes& v) const { return std::string(v.begin(), v.end()); }
        std::string operator()(const Object&) const { return {}; }
        std::string operator()(Missing) const { return {}; }
    };
    return std::visit(Visitor{}, value_);
}

} // namespace tolmail
