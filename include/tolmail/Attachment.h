/// \file
/// Attachment: one part of a retrieved message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/export.h"

namespace tolmail {

/// One part of a retrieved message, its body still encoded, held in memory or in a
/// temporary file under the component's CachedDirectory. Made by the library only.
class TOLMAIL_API Attachment {
public:
    /// Deletes the temporary file (CachedDirectory + TempFilename), if any.
    ~Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    /// The still-encoded body when it is held in memory (below MaxMemAttachment bytes);
    /// empty when it is in a temporary file.
    std::string AttachmentBody() const;
    /// The bare name of the temporary file that holds the encoded body; empty when the
    /// body is in memory.
    std::string TempFilename() const;
    /// The MIME type of the part ("application").
    std::string ContentType() const;
    /// The MIME subtype of the part ("octet-stream").
    std::string ContentSubType() const;
    /// Decodes the body (as Encoding names: base64, x-uuencode, quoted-printable,
    /// anything else copied) into the new file Filename. Returns 0 saved, 1 Filename
    /// empty, or a file_result code (the file exists already, the temporary file is
    /// missing, a failed create, read or write). Raises pop3_event Decoding (task 20,
    /// param1 total bytes, param2 bytes left) before each piece read from a temporary
    /// file and DecodingDone (task 21) after it, through the component that retrieved
    /// the attachment while that still exists. An invalid base64 character in a body
    /// held in memory throws Error before anything is created.
    int32_t Save(const std::string& Filename);
    /// The size of the encoded body in bytes, as decimal text.
    std::string Size() const;
    /// Sets the host's own name for the part.
    void Name(const std::string& value);
    /// The host's own name for the part (empty until set).
    std::string Name() const;
    /// The file name the part's Content-Type names ("name="), or the uuencode block's.
    /// Read with TolvanPOP3::InternationalText: decoded to UTF-8 in its own letter case,
    /// from Content-Disposition's "filename" when Content-Type names none.
    std::string Filename() const;
    /// The part's Content-Transfer-Encoding ("base64", "x-uuencode", ...).
    std::string Encoding() const;
    /// The part's Content-Description (as UTF-8 with TolvanPOP3::InternationalText).
    std::string Description() const;

private:
    friend class LibraryAccess;
    Attachment();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
