/// \file
/// Enumerator: what a collection's NewEnum hands out.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "tolmail/ref.h"

namespace tolmail {

/// Iterates a snapshot of a collection's items in order: removing items from the
/// collection afterwards does not change what the enumerator yields.
/// \tparam T The item class (Message, Recipient or Attachment).
template <class T>
class Enumerator {
public:
    /// Takes the snapshot to iterate.
    explicit Enumerator(std::vector<Ref<T>> items) : items_(std::move(items)) {}
    /// The next item, or null after the last.
    Ref<T> Next() { return position_ < items_.size() ? items_[position_++] : nullptr; }
    /// Starts over at the first item.
    void Reset() { position_ = 0; }
    /// The first item of the snapshot, for range-for.
    auto begin() const { return items_.begin(); }
    /// The end of the snapshot, for range-for.
    auto end() const { return items_.end(); }

private:
    std::vector<Ref<T>> items_;
    size_t position_ = 0;
};

} // namespace tolmail
