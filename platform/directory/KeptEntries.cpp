// The process-wide table of entries that open searches have read, packed one buffer per entry, so
// that binding to a listed row does not ask the server again.

#include "platform/directory/KeptEntries.h"

#include <cstring>

namespace platform::directory {

namespace {

void AppendCounted(std::string& bytes, const std::string& text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    bytes.append(reinterpret_cast<const char*>(&size), sizeof size);
    bytes += text;
}

std::uint32_t ReadCount(const std::string& bytes, std::size_t& at) {
    std::uint32_t count = 0;
    std::memcpy(&count, bytes.data() + at, sizeof count);
    at += sizeof count;
    return count;
}

std::string ReadCounted(const std::string& bytes, std::size_t& at) {
    const auto size = ReadCount(bytes, at);
    std::string text = bytes.substr(at, size);
    at += size;
    return text;
}

std::string KeyOf(const std::string& uri, const std::string& dn) {
    return uri + '\n' + dn;
}

} // namespace

void EntryImage::Add(const std::string& lowerName, const std::vector<std::string>& values) {
    AppendCounted(bytes_, lowerName);
    const auto count = static_cast<std::uint32_t>(values.size());
    bytes_.append(reinterpret_cast<const char*>(&count), sizeof count);
    for (const auto& value : values)
        AppendCounted(bytes_, value);
}

LdapConnection::AttributeMap EntryImage::Attributes() const {
    LdapConnection::AttributeMap attributes;
    for (std::size_t at = 0; at < bytes_.size();) {
        auto& values = attributes[ReadCounted(bytes_, at)];
        for (auto count = ReadCount(bytes_, at); count > 0; --count)
            values.push_back(ReadCounted(bytes_, at));
    }
    return attributes;
}

KeptEntries& KeptEntries::Process() {
    // Never destroyed: record sets may be released during exit.
    static auto* kept = new KeptEntries;
    return *kept;
}

std::shared_ptr<KeptEntries::Lease> KeptEntries::NewLease(const std::string& uri) {
    std::lock_guard lock(mutex_);
    return std::make_shared<Lease>(*this, uri, nextLease_++);
}

void KeptEntries::Lease::Keep(const std::string& dn, std::shared_ptr<const EntryImage> entry) {
    auto key = KeyOf(uri_, dn);
    std::lock_guard lock(owner_.mutex_);
    owner_.entries_[key] = {id_, std::move(entry)};
    keys_.push_back(std::move(key));
}

KeptEntries::Lease::~Lease() {
    std::lock_guard lock(owner_.mutex_);
    for (const auto& key : keys_) {
        // A later search may have kept the same entry meanwhile: that copy stays.
        const auto found = owner_.entries_.find(key);
        if (found != owner_.entries_.end() && found->second.lease == id_)
            owner_.entries_.erase(found);
    }
}

std::optional<LdapConnection::AttributeMap> KeptEntries::Find(const std::string& uri,
                                                              const std::string& dn) {
    std::shared_ptr<const EntryImage> entry;
    {
        std::lock_guard lock(mutex_);
        const auto found = entries_.find(KeyOf(uri, dn));
        if (found == entries_.end())
            return std::nullopt;
        entry = found->second.entry;
    }
    return entry->Attributes();
}

std::size_t KeptEntries::Size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

} // namespace platform::directory
