// The lookup from a component handle to the sink of Save's progress.
#include "model/save_progress.h"

#include <atomic>

namespace tolmail::model {

namespace {
std::atomic<SaveProgressLookup> gLookup{nullptr};
} // namespace

void InstallSaveProgressLookup(SaveProgressLookup lookup)
{
    gLookup.store(lookup);
}

WeakRef<SaveProgress> SaveProgressOf(const WeakRef<TolvanPOP3>& owner)
{
    const SaveProgressLookup lookup = gLookup.load();
    return lookup ? lookup(owner) : WeakRef<SaveProgress>{};
}

} // namespace tolmail::model
