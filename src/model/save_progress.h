// How an attachment reports the progress of its Save without knowing the component
// that retrieved it (the model layer sits below the POP3 layer).
#pragma once

#include <cstdint>
#include <string>

#include "platform/hidden.h"
#include "tolmail/ref.h"

namespace tolmail {
class TolvanPOP3;
}

namespace tolmail::model {

/// What Attachment.Save reports while it decodes from a temporary file.
class TOLMAIL_HIDDEN SaveProgress {
public:
    /// Before each piece: `file` is the temporary file's name, sizes are bytes.
    virtual void decoding(const std::string& file, int32_t total, int32_t left) = 0;
    /// After the last piece was written.
    virtual void decodingDone(int32_t total) = 0;

protected:
    ~SaveProgress() = default;
};

/// Finds the sink behind a component handle. The POP3 layer installs it when it makes
/// its first component, so the model layer links without that layer.
using SaveProgressLookup = WeakRef<SaveProgress> (*)(const WeakRef<TolvanPOP3>& owner);

void InstallSaveProgressLookup(SaveProgressLookup lookup);

/// The sink of `owner`; empty when there is none (no component, or it has gone).
WeakRef<SaveProgress> SaveProgressOf(const WeakRef<TolvanPOP3>& owner);

} // namespace tolmail::model
