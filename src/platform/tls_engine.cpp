// The failure texts, one wording whichever TLS library stands behind the engine.
#include "platform/tls_engine.h"

namespace tolmail::platform {

namespace {

constexpr std::string_view kVerification = "certificate verification failed: ";

std::string Join(std::string_view head, std::string_view tail)
{
    std::string text(head);
    text += tail;
    return text;
}

} // namespace

std::string DescribeTlsFailure(TlsFailure kind, std::string_view hostName, std::string_view detail)
{
    switch (kind) {
    case TlsFailure::None:
        return {};
    case TlsFailure::CertificateExpired:
        return Join(kVerification, "the certificate has expired");
    case TlsFailure::CertificateNotYetValid:
        // Far more often a wrong clock here than a certificate dated ahead.
        return Join(kVerification, "the certificate is not valid yet (is this computer's clock right?)");
    case TlsFailure::WrongHostName:
        return Join(kVerification, "the certificate is for another host name (wanted ")
            .append(hostName)
            .append(")");
    case TlsFailure::UntrustedIssuer:
        return Join(kVerification, "the certificate was not issued by a trusted authority (")
            .append(detail)
            .append(")");
    case TlsFailure::OtherVerification:
        return Join(kVerification, detail);
    case TlsFailure::Protocol:
        return Join("TLS failed: ", detail);
    case TlsFailure::Setup:
        return Join("TLS cannot start: ", detail);
    }
    return Join("TLS failed: ", detail);
}

} // namespace tolmail::platform
