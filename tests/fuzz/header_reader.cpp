// Fuzz target: a message header read line by line as GetMessage and FetchHeader read
// it, then the same text as a part header (unfolding, field values, the boundary); in
// the default or the international reading.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/library_access.h"
#include "pop3/header_parse.h"
#include "pop3/international_text.h"
#include "pop3/message_impl.h"

using namespace tolmail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const pop3::HeaderReader reader = (data[0] & 1) ? pop3::HeaderReader::Top : pop3::HeaderReader::Retr;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    Ref<Message> message = pop3::AddMessage(*LibraryAccess::create<Messages>(), 1, WeakRef<TolvanPOP3>{});
    MessageImpl& impl = LibraryAccess::impl(*message);
    impl.InternationalText = (data[0] & 2) != 0;
    pop3::HeaderScan scan(reader);
    for (size_t start = 0; start < text.size();) {
        const size_t lf = text.find('\n', start);
        const size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        const pop3::HeaderLine kind = pop3::TakeHeaderLine(impl, scan, text.substr(start, end - start));
        start = end;
        if (kind == pop3::HeaderLine::Blank || kind == pop3::HeaderLine::Terminator)
            break;
    }
    pop3::FinishHeader(impl, scan, true);
    if (!impl.ContentParams.empty())
        (void)pop3::BoundaryOf(impl.ContentParams);

    const std::string part(text);
    const std::string unfolded = pop3::UnfoldHeader(part, impl.InternationalText);
    (void)pop3::HeaderValue(unfolded, "Content-Type:");
    (void)pop3::HeaderValue(unfolded, "Content-transfer-encoding: ");
    (void)pop3::BoundaryOf(part);
    if (impl.InternationalText)
        (void)pop3::AttachmentName(pop3::FieldText(unfolded, "Content-Type"),
                                   pop3::FieldText(unfolded, "Content-Disposition"));
    return 0;
}
