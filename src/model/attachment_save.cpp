// Placeholder for Attachment.Save until decoding into files lands.
#include "tolmail/Attachment.h"

namespace tolmail {

int32_t Attachment::Save(const std::string& Filename)
{
    return Filename.empty() ? 1 : 64;
}

} // namespace tolmail
