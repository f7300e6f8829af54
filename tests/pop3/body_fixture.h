// A message of a live component fed from a buffer instead of a socket, with a
// private cache directory: the body readers and Save run without a server.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "codec/temp_files.h"
#include "platform/library_access.h"
#include "pop3/dot_reader.h"
#include "pop3/message_impl.h"
#include "support/portable.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail::testing {

/// The text as a POP3 server sends a message body: lines that begin with "." get
/// one more, and the terminating line follows.
inline std::string Stuffed(const std::string& body)
{
    std::string wire;
    bool lineStart = true;
    for (size_t i = 0; i < body.size(); ++i) {
        if (lineStart && body[i] == '.')
            wire += '.';
        wire += body[i];
        lineStart = body[i] == '\n' && i > 0 && body[i - 1] == '\r';
    }
    return wire + ".\r\n";
}

/// A reader that hands out the pieces in order, then reports a read that brought nothing.
inline pop3::DotReader ReaderOver(std::vector<std::string> pieces, size_t* taken = nullptr)
{
    auto state = std::make_shared<std::pair<std::vector<std::string>, size_t>>(std::move(pieces), 0);
    return pop3::DotReader([state, taken](std::string& piece) {
        if (state->second >= state->first.size())
            return false;
        piece = state->first[state->second++];
        if (taken)
            *taken = state->second;
        return true;
    });
}

/// The text cut at the given offsets.
inline std::vector<std::string> SplitAt(const std::string& text, std::vector<size_t> cuts)
{
    std::vector<std::string> pieces;
    size_t from = 0;
    for (size_t cut : cuts) {
        pieces.push_back(text.substr(from, cut - from));
        from = cut;
    }
    pieces.push_back(text.substr(from));
    return pieces;
}

class BodyFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string base = portable::MakeTempDir("tolmail-body");
        ASSERT_FALSE(base.empty());
        dir_ = base + "/";
        pop3_->CachedDirectory(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Ref<Message> NewMessage(const std::string& contentType = "multipart", const std::string& subType = "mixed")
    {
        Ref<Message> message = pop3::AddMessage(*pop3_->Messages(), 1, pop3_);
        Impl(message).ContentType = contentType;
        Impl(message).ContentSubType = subType;
        return message;
    }

    static MessageImpl& Impl(const Ref<Message>& message) { return LibraryAccess::impl(*message); }

    /// The still-encoded body of a part, wherever it is kept.
    std::string BodyOf(const Ref<Attachment>& part) const
    {
        if (part->TempFilename().empty())
            return part->AttachmentBody();
        std::string content;
        EXPECT_EQ(codec::ReadWholeFile(dir_ + part->TempFilename(), content), 0);
        return content;
    }

    size_t FilesInCache() const
    {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_))
            ++n;
        return n;
    }

    Ref<TolvanPOP3> pop3_ = TolvanPOP3::Create();
    std::string dir_;
};

} // namespace tolmail::testing
