// The writer of the DATA section (RFC 5321 4.5.2): every piece between DATA and the
// end-of-data line goes through it, so that no piece can end the message early. The
// same composer also writes a message into a file, so the sink is one of two kinds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "smtp/dot_stuffing.h"
#include "tolmail/socket_codes.h"

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::smtp {

/// Where the written message goes. write() returns 0 when the piece went out whole,
/// else the sink's own failure code (a socket result, a file result).
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual int32_t write(std::string&& piece) = 0;
};

/// The DATA section of an open transaction.
class SocketSink final : public DataSink {
public:
    explicit SocketSink(TolvanSocket& socket) : socket_(socket) {}
    int32_t write(std::string&& piece) override;

private:
    TolvanSocket& socket_;
};

/// A file open for writing; failures are file_result codes.
class FileSink final : public DataSink {
public:
    explicit FileSink(platform::File& file) : file_(file) {}
    int32_t write(std::string&& piece) override;

private:
    platform::File& file_;
};

class DataWriter {
public:
    /// Whether dots are stuffed: on the wire they must be; in a file the message is
    /// kept as its reader will see it.
    enum class Dots { Stuffed, AsTheyAre };

    explicit DataWriter(DataSink& sink, Dots dots = Dots::Stuffed) : sink_(sink), stuff_(dots == Dots::Stuffed) {}

    /// Text from the host or composed here: line ends become CR LF, dots are stuffed.
    /// Sent at once, after any gathered data. Returns the sink's result (0 when sent).
    int32_t sendText(std::string_view text);
    /// Encoder output or raw bytes: dots are stuffed, nothing else changes. Pieces are
    /// gathered up to kBatchSize before they go to the sink, since each socket send
    /// costs several system calls whatever its size; the bytes on the wire are the same.
    /// Returns 0, or the failed result of a send that this piece triggered.
    int32_t sendData(std::string_view data);
    /// Sends the gathered data; 0 when sent (or nothing was gathered).
    int32_t flush();
    /// The first failed result of the sink, 0 while every piece went out. After a
    /// failure nothing more is sent: the server must never see a message with a gap in it.
    int32_t failure() const noexcept { return failure_; }

    static constexpr size_t kBatchSize = 128 * 1024;

private:
    int32_t send(std::string&& piece);
    std::string_view stuffed(std::string_view piece);

    DataSink& sink_;
    bool stuff_;
    DotStuffer stuffer_;
    std::string scratch_;
    std::string batch_;
    int32_t failure_ = socket_result::Ok;
};

} // namespace tolmail::smtp
