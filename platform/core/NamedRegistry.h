#pragma once

// A table of values by name (ProgIDs, provider names, moniker prefixes), names compared without
// regard to ASCII letter case, safe to use from several threads; and a scoped entry that puts a
// value in place for its lifetime and restores what it replaced, for tests.

#include "platform/core/Text.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

template <class Value> class NamedRegistry {
public:
    void Set(const std::string& name, Value value) {
        std::lock_guard lock(mutex_);
        values_[Fold(name)] = std::move(value);
    }

    void Erase(const std::string& name) {
        std::lock_guard lock(mutex_);
        values_.erase(Fold(name));
    }

    std::optional<Value> Find(const std::string& name) const {
        std::lock_guard lock(mutex_);
        auto found = values_.find(Fold(name));
        if (found == values_.end())
            return std::nullopt;
        return found->second;
    }

    // Puts `value` in place (no value: removes the entry) and returns what was there.
    std::optional<Value> Exchange(const std::string& name, std::optional<Value> value) {
        std::lock_guard lock(mutex_);
        const auto key = Fold(name);
        std::optional<Value> previous;
        if (auto found = values_.find(key); found != values_.end()) {
            previous = std::move(found->second);
            values_.erase(found);
        }
        if (value)
            values_.emplace(key, std::move(*value));
        return previous;
    }

private:
    static std::string Fold(std::string name) { return text::AsciiLower(std::move(name)); }

    mutable std::mutex mutex_;
    std::map<std::string, Value> values_;
};

template <class Value> class ScopedEntry {
public:
    ScopedEntry(NamedRegistry<Value>& registry, std::string name, Value value)
        : registry_(registry), name_(std::move(name)),
          previous_(registry_.Exchange(name_, std::move(value))) {}
    ~ScopedEntry() { registry_.Exchange(name_, std::move(previous_)); }
    ScopedEntry(const ScopedEntry&) = delete;
    ScopedEntry& operator=(const ScopedEntry&) = delete;

private:
    NamedRegistry<Value>& registry_;
    std::string name_;
    std::optional<Value> previous_;
};

} // namespace platform
