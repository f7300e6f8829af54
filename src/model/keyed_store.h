// The store behind Messages, Recipients and Attachments: insertion order,
// 1-based positions, optional keys unique without regard to letter case.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/hidden.h"
#include "tolmail/error.h"
#include "tolmail/ref.h"
#include "tolmail/variant.h"

namespace tolmail::model {

/// The items of one collection with their optional keys.
template <class T>
class TOLMAIL_HIDDEN KeyedStore {
public:
    /// Inserts under key (empty: no key). A key already present fails with nothing inserted.
    void add(Ref<T> item, const std::string& key)
    {
        if (!key.empty() && find(key) != npos)
            throw Error(errc::DuplicateKey, "This key is already associated with an element of this collection");
        entries_.push_back({std::move(item), key});
    }

    /// The item at a 1-based position or under a key (compared without regard to case).
    const Ref<T>& item(const Variant& indexOrKey) const { return entries_[locate(indexOrKey)].item; }

    void remove(const Variant& indexOrKey) { entries_.erase(entries_.begin() + static_cast<long>(locate(indexOrKey))); }

    int32_t count() const noexcept { return static_cast<int32_t>(entries_.size()); }

    std::vector<Ref<T>> items() const
    {
        std::vector<Ref<T>> all;
        all.reserve(entries_.size());
        for (const auto& entry : entries_)
            all.push_back(entry.item);
        return all;
    }

private:
    static constexpr size_t npos = static_cast<size_t>(-1);
    struct Entry {
        Ref<T> item;
        std::string key;
    };

    static bool sameKey(const std::string& a, const std::string& b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
            if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
                return false;
        }
        return true;
    }

    size_t find(const std::string& key) const
    {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (!entries_[i].key.empty() && sameKey(entries_[i].key, key))
                return i;
        }
        return npos;
    }

    size_t locate(const Variant& indexOrKey) const
    {
        if (indexOrKey.isString()) {
            size_t at = find(indexOrKey.get<std::string>());
            if (at == npos)
                throw Error(errc::InvalidIndex, "Key not found in this collection: " + indexOrKey.get<std::string>());
            return at;
        }
        double position = indexOrKey.toNumber();
        if (!indexOrKey.isNumber() || position < 1 || position > static_cast<double>(entries_.size()))
            throw Error(errc::InvalidIndex, "Index out of range: " + indexOrKey.toString());
        return static_cast<size_t>(position) - 1;
    }

    std::vector<Entry> entries_;
};

} // namespace tolmail::model
