// TolvanPOP3: logs into one POP3 mailbox (RFC 1939), downloads and parses messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Messages.h"
#include "tolmail/caller.h"
#include "tolmail/events.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/ref.h"

namespace tolmail {

class TolvanSocket;

/// The event of TolvanPOP3 (dispatch id 1).
class TolvanPOP3Events {
public:
    virtual ~TolvanPOP3Events() = default;
    virtual void OnPOP3Event(const std::string& paramtext, int32_t task, int32_t param1, int32_t param2)
    {
        (void)paramtext, (void)task, (void)param1, (void)param2;
    }
};

class TolvanPOP3 : public std::enable_shared_from_this<TolvanPOP3> {
    struct Private {
        explicit Private() = default;
    };

public:
    static Ref<TolvanPOP3> Create();
    explicit TolvanPOP3(Private);
    ~TolvanPOP3();
    TolvanPOP3(const TolvanPOP3&) = delete;
    TolvanPOP3& operator=(const TolvanPOP3&) = delete;

    std::string Login() const;
    void Login(const std::string& value);
    int16_t Port() const;
    void Port(int16_t value);
    std::string Host() const;
    void Host(const std::string& value);
    bool SaveAttachment() const;
    void SaveAttachment(bool value);
    std::string CachedDirectory() const;
    void CachedDirectory(const std::string& value);
    std::string AlternativeType() const;
    void AlternativeType(const std::string& value);
    int32_t CancelDelete();
    int32_t KeepAlive();
    int32_t GetMessageHeader();
    int32_t GetMessages(uint8_t param);
    int32_t GetMessageCount();
    int32_t GetMessageSize();
    int32_t Connect();
    int32_t Disconnect();
    /// Asks a running GetMessages or GetMessageHeader loop to stop before its next
    /// message; true when such a loop is running to see the request.
    bool Cancel();
    void MaxMemAttachment(int32_t value);
    int32_t MaxMemAttachment() const;
    std::string Version() const;
    void TimeOut(int32_t value);
    int32_t TimeOut() const;
    void Password(const std::string& value);
    std::string Password() const;
    Ref<tolmail::Messages> Messages();
    void Messages(Ref<tolmail::Messages> value);
    /// The text of the last failed check or retrieval step ("No Error" when it passed).
    std::string POP3Error() const;

    uint32_t Advise(std::shared_ptr<TolvanPOP3Events> sink);
    void Unadvise(uint32_t cookie);

    // Component-only services for Message, Attachment and Messages.
    Ref<TolvanSocket> SocketOf(const detail::Caller& caller) const;
    void RaiseProgress(const std::string& text, int32_t task, int32_t param1, int32_t param2,
                       const detail::Caller& caller);
    /// Sets the text POP3Error reads after a message's retrieval step.
    void ReportError(const std::string& text, const detail::Caller& caller);

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
