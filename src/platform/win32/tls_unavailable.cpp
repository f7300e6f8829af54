// The TLS engine of a build that has none yet: every connection fails at its handshake
// with a reason a person can act on, and nothing travels unencrypted in its place.
#include "platform/tls_engine.h"

namespace tolmail::platform {

namespace {
constexpr std::string_view kUnavailable = "TLS is not available in this build";
}

struct TlsClient::Impl {
    std::string hostName;
    std::string text;
};

TlsClient::TlsClient(TlsSettings settings) : impl_(std::make_unique<Impl>())
{
    impl_->hostName = std::move(settings.hostName);
    impl_->text = DescribeTlsFailure(TlsFailure::Setup, impl_->hostName, kUnavailable);
}

TlsClient::~TlsClient() = default;
TlsClient::TlsClient(TlsClient&&) noexcept = default;
TlsClient& TlsClient::operator=(TlsClient&&) noexcept = default;

void TlsClient::feedCiphertext(std::string_view) {}

std::string TlsClient::takeCiphertext()
{
    return {};
}

TlsStep TlsClient::handshake()
{
    return TlsStep::Failed;
}

bool TlsClient::writePlain(std::string_view)
{
    return false;
}

TlsRead TlsClient::readPlain(std::string&, size_t)
{
    return TlsRead::Failed;
}

bool TlsClient::hasPendingPlain() const
{
    return false;
}

void TlsClient::closeNotify() {}

bool TlsClient::peerClosed() const
{
    return false;
}

std::string TlsClient::sessionSummary() const
{
    return {};
}

TlsFailure TlsClient::failure() const
{
    return TlsFailure::Setup;
}

const std::string& TlsClient::failureText() const
{
    return impl_->text;
}

} // namespace tolmail::platform
