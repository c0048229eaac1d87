// The directory's use of libldap: connecting with time limits, binding, reading single entries and
// paged searches, with every failure turned into a platform error.

#include "platform/directory/LdapConnection.h"

#include "platform/core/Text.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/KeptEntries.h"

#include <ldap.h>
#include <signal.h>

#include <algorithm>
#include <cctype>

namespace platform::directory {

namespace {

using Clock = std::chrono::steady_clock;

// How long a TCP connect may take before the server counts as unreachable.
constexpr int kConnectTimeoutSeconds = 5;
// How long the bind, single-entry reads and each wait for a search's next answer (unless the
// search has a time limit of its own) last for a server that accepted but does not answer.
constexpr int kOperationTimeoutSeconds = 30;

// A request written to a connection whose server has gone raises SIGPIPE, which by default ends
// the process: the saving process, when the store's sink looks up an owner. The write should
// fail like any other call instead, as it does on the platform we stand in for. A handler the
// host program set itself is left alone.
void IgnoreBrokenConnections() {
    static const bool done = [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            !(current.sa_flags & SA_SIGINFO))
            signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

std::string ServerMessage(LDAP* ld) {
    char* message = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &message);
    std::string text = message ? message : "";
    ldap_memfree(message);
    return text;
}

LdapEntry ReadLdapEntry(LDAP* ld, LDAPMessage* message,
                        const std::vector<std::string>& attributes) {
    LdapEntry entry;
    if (char* dn = ldap_get_dn(ld, message)) {
        entry.dn = dn;
        ldap_memfree(dn);
    }
    entry.values.resize(attributes.size());
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        // The library matches attribute names without regard to case.
        berval** values = ldap_get_values_len(ld, message, attributes[i].c_str());
        if (!values)
            continue;
        for (berval** value = values; *value; ++value)
            entry.values[i].emplace_back((*value)->bv_val, (*value)->bv_len);
        ldap_value_free_len(values);
    }
    return entry;
}

std::string Lower(std::string text) {
    return text::AsciiLower(std::move(text));
}

// Calls `take` with the lower-case name and the values of each attribute of an entry.
template <class Take> void ForEachAttribute(LDAP* ld, LDAPMessage* entry, Take&& take) {
    BerElement* position = nullptr;
    for (char* name = ldap_first_attribute(ld, entry, &position); name;
         name = ldap_next_attribute(ld, entry, position)) {
        std::vector<std::string> values;
        if (berval** found = ldap_get_values_len(ld, entry, name)) {
            for (berval** value = found; *value; ++value)
                values.emplace_back((*value)->bv_val, (*value)->bv_len);
            ldap_value_free_len(found);
        }
        take(Lower(name), std::move(values));
        ldap_memfree(name);
    }
    ber_free(position, 0);
}

std::string ConnectingTo(const std::string& uri) {
    return "Connecting to the directory server " + uri;
}

timeval TimeValue(std::chrono::milliseconds time) {
    return {static_cast<time_t>(time.count() / 1000),
            static_cast<suseconds_t>(time.count() % 1000 * 1000)};
}

// The usual limit, or the caller's when that is given and shorter.
std::chrono::milliseconds Within(std::chrono::milliseconds usual,
                                 std::chrono::milliseconds timeLimit) {
    return timeLimit.count() > 0 ? std::min(usual, timeLimit) : usual;
}

constexpr std::chrono::milliseconds kOperationTimeout =
    std::chrono::seconds(kOperationTimeoutSeconds);

// A handle to the server with the time limits every connection has (or shorter ones: see
// Within); not bound yet.
LDAP* OpenHandle(const std::string& uri, std::chrono::milliseconds timeLimit = {}) {
    IgnoreBrokenConnections();
    LDAP* ld = nullptr;
    const int rc = ldap_initialize(&ld, uri.c_str());
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc == LDAP_PARAM_ERROR ? LDAP_SERVER_DOWN : rc, ConnectingTo(uri));
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    const auto connectTimeout =
        TimeValue(Within(std::chrono::seconds(kConnectTimeoutSeconds), timeLimit));
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout);
    const auto operationTimeout = TimeValue(Within(kOperationTimeout, timeLimit));
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &operationTimeout);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    return ld;
}

berval Bytes(const std::string& text) {
    return {static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
}

} // namespace

LdapConnection::LdapConnection(std::string uri, std::chrono::milliseconds timeLimit)
    : uri_(std::move(uri)) {
    const auto what = ConnectingTo(uri_);
    ld_ = OpenHandle(uri_, timeLimit);
    char empty[] = "";
    berval noCredentials{0, empty};
    const bool local = uri_.rfind("ldapi://", 0) == 0;
    // Over the local socket the server knows who we are; elsewhere we read anonymously.
    const int rc = ldap_sasl_bind_s(ld_, nullptr, local ? "EXTERNAL" : LDAP_SASL_SIMPLE,
                                    &noCredentials, nullptr, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        const auto message = ServerMessage(ld_);
        ldap_unbind_ext_s(ld_, nullptr, nullptr);
        ld_ = nullptr;
        throw LdapFailure(rc, what, message);
    }
    // Whoever uses the connection later has the usual limits.
    const auto operationTimeout = TimeValue(kOperationTimeout);
    ldap_set_option(ld_, LDAP_OPT_TIMEOUT, &operationTimeout);
}

LdapConnection::~LdapConnection() {
    if (ld_)
        ldap_unbind_ext_s(ld_, nullptr, nullptr);
}

void LdapConnection::ChangePassword(const std::string& dn, const std::string& password) {
    berval user = Bytes(dn);
    berval secret = Bytes(password);
    berval generated{0, nullptr};
    const int rc = ldap_passwd_s(ld_, &user, nullptr, &secret, &generated, nullptr, nullptr);
    ber_memfree(generated.bv_val);
    if (rc != LDAP_SUCCESS) {
        reusable = false;
        throw LdapFailure(rc, "Changing the password of " + dn + " on " + uri_, ServerMessage(ld_));
    }
}

bool CheckPassword(const std::string& uri, const std::string& dn, const std::string& password,
                   std::chrono::milliseconds timeLimit) {
    // An empty simple bind would be an anonymous one.
    if (password.empty())
        return false;
    std::unique_ptr<LDAP, void (*)(LDAP*)> ld(OpenHandle(uri, timeLimit), [](LDAP* handle) {
        ldap_unbind_ext_s(handle, nullptr, nullptr);
    });
    berval credentials = Bytes(password);
    const int rc = ldap_sasl_bind_s(ld.get(), dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                                    nullptr, nullptr);
    if (rc == LDAP_SUCCESS)
        return true;
    if (rc == LDAP_INVALID_CREDENTIALS || rc == LDAP_INAPPROPRIATE_AUTH ||
        rc == LDAP_UNWILLING_TO_PERFORM)
        return false;
    throw LdapFailure(rc, "Checking the password of " + dn + " on " + uri, ServerMessage(ld.get()));
}

std::optional<LdapEntry> LdapConnection::ReadEntry(const std::string& dn,
                                                   const std::vector<std::string>& attributes) {
    std::vector<std::string> names = attributes;
    auto array = text::NullTerminated(names);
    LDAPMessage* result = nullptr;
    const int rc = ldap_search_ext_s(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                     array.data(), 0, nullptr, nullptr, nullptr, 0, &result);
    std::optional<LdapEntry> entry;
    if (rc == LDAP_SUCCESS) {
        if (LDAPMessage* first = ldap_first_entry(ld_, result))
            entry = ReadLdapEntry(ld_, first, attributes);
    }
    const auto message = rc == LDAP_SUCCESS ? std::string() : ServerMessage(ld_);
    ldap_msgfree(result);
    if (rc == LDAP_NO_SUCH_OBJECT)
        return std::nullopt;
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, "Reading \"" + dn + "\" on " + uri_, message);
    return entry;
}

std::optional<LdapConnection::AttributeMap>
LdapConnection::ReadAllAttributes(const std::string& dn, bool withOperational) {
    char all[] = "*";
    char operational[] = "+";
    char* names[] = {all, withOperational ? operational : nullptr, nullptr};
    LDAPMessage* result = nullptr;
    const int rc = ldap_search_ext_s(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", names, 0,
                                     nullptr, nullptr, nullptr, 0, &result);
    if (rc != LDAP_SUCCESS) {
        const auto message = ServerMessage(ld_);
        ldap_msgfree(result);
        if (rc == LDAP_NO_SUCH_OBJECT)
            return std::nullopt;
        throw LdapFailure(rc, "Reading \"" + dn + "\" on " + uri_, message);
    }
    std::optional<AttributeMap> attributes;
    if (LDAPMessage* entry = ldap_first_entry(ld_, result)) {
        attributes.emplace();
        ForEachAttribute(ld_, entry, [&](std::string name, std::vector<std::string> values) {
            auto& kept = (*attributes)[name];
            kept.insert(kept.end(), values.begin(), values.end());
        });
    }
    ldap_msgfree(result);
    return attributes;
}

LdapSearch::LdapSearch(std::shared_ptr<LdapConnection> connection, std::string base,
                       std::string filter, std::vector<std::string> attributes,
                       SearchOptions options)
    : connection_(std::move(connection)), base_(std::move(base)), filter_(std::move(filter)),
      attributes_(std::move(attributes)), options_(options) {
    if (options_.timeLimitSeconds > 0)
        deadline_ = Clock::now() + std::chrono::seconds(options_.timeLimitSeconds);
    ldap_set_option(connection_->Handle(), LDAP_OPT_REFERRALS,
                    options_.chaseReferrals ? LDAP_OPT_ON : LDAP_OPT_OFF);
    StartRequest();
}

LdapSearch::~LdapSearch() {
    Abandon();
}

std::string LdapSearch::Describe() const {
    return "Searching \"" + base_ + "\" for " + filter_ + " on " + connection_->Uri();
}

void LdapSearch::Abandon() {
    if (messageId_ >= 0)
        ldap_abandon_ext(connection_->Handle(), messageId_, nullptr, nullptr);
    messageId_ = -1;
}

void LdapSearch::StartRequest() {
    LDAP* ld = connection_->Handle();
    std::vector<std::string> names;
    for (const auto& name : attributes_)
        names.push_back(name);
    if (options_.wholeEntries)
        names.push_back(LDAP_ALL_USER_ATTRIBUTES);
    // Asking for no attribute at all is spelled "1.1".
    if (names.empty())
        names.push_back(LDAP_NO_ATTRS);
    auto array = text::NullTerminated(names);

    LDAPControl* pageControl = nullptr;
    if (options_.pageSize > 0) {
        berval cookie{static_cast<ber_len_t>(cookie_.size()), cookie_.data()};
        const int rc =
            ldap_create_page_control(ld, static_cast<ber_int_t>(options_.pageSize),
                                     cookie_.empty() ? nullptr : &cookie, 0, &pageControl);
        if (rc != LDAP_SUCCESS)
            throw LdapFailure(rc, Describe());
    }
    LDAPControl* controls[] = {pageControl, nullptr};
    // The server counts a paged search's limit over all its pages.
    const int sizeLimit = options_.sizeLimit > 0 ? options_.sizeLimit : 0;
    const int rc = ldap_search_ext(
        ld, base_.c_str(), static_cast<int>(options_.scope), filter_.c_str(), array.data(), 0,
        pageControl ? controls : nullptr, nullptr, nullptr, sizeLimit, &messageId_);
    if (pageControl)
        ldap_control_free(pageControl);
    if (rc != LDAP_SUCCESS) {
        messageId_ = -1;
        throw LdapFailure(rc, Describe(), ServerMessage(ld));
    }
}

bool LdapSearch::NextPage(std::vector<LdapEntry>& entries) {
    if (done_)
        return false;
    if (messageId_ < 0)
        StartRequest();
    LDAP* ld = connection_->Handle();
    for (;;) {
        timeval wait{};
        timeval* waitFor = nullptr;
        if (deadline_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(*deadline_ - Clock::now());
            if (left.count() <= 0) {
                Abandon();
                done_ = true;
                throw LdapFailure(LDAP_TIMELIMIT_EXCEEDED, Describe());
            }
            wait.tv_sec = static_cast<time_t>(left.count() / 1000000);
            wait.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
            waitFor = &wait;
        } else {
            // Without a time limit of the caller's, a server that stops answering still must
            // not hold the caller (a store save, for one) for ever.
            wait.tv_sec = kOperationTimeoutSeconds;
            waitFor = &wait;
        }
        LDAPMessage* message = nullptr;
        const int type = ldap_result(ld, messageId_, LDAP_MSG_ONE, waitFor, &message);
        if (type == 0) {
            if (deadline_)
                continue; // the deadline check above ends the wait
            Abandon();
            done_ = true;
            throw LdapFailure(LDAP_TIMEOUT, Describe(),
                              "no answer for " + std::to_string(kOperationTimeoutSeconds) +
                                  " seconds");
        }
        if (type < 0) {
            int code = LDAP_SERVER_DOWN;
            ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
            messageId_ = -1;
            done_ = true;
            throw LdapFailure(code, Describe(), ServerMessage(ld));
        }
        if (type == LDAP_RES_SEARCH_ENTRY) {
            const bool withinLimit = options_.sizeLimit <= 0 ||
                                     delivered_ < static_cast<std::size_t>(options_.sizeLimit);
            if (withinLimit) {
                entries.push_back(ReadLdapEntry(ld, message, attributes_));
                if (options_.wholeEntries) {
                    auto whole = std::make_shared<EntryImage>();
                    ForEachAttribute(
                        ld, message,
                        [&](const std::string& name, const std::vector<std::string>& values) {
                            whole->Add(name, values);
                        });
                    entries.back().whole = std::move(whole);
                }
                ++delivered_;
            }
            ldap_msgfree(message);
            continue;
        }
        if (type != LDAP_RES_SEARCH_RESULT) {
            // Continuation references: followed by the library when chasing, skipped otherwise.
            ldap_msgfree(message);
            continue;
        }

        int code = LDAP_SUCCESS;
        char* serverText = nullptr;
        LDAPControl** serverControls = nullptr;
        const int rc = ldap_parse_result(ld, message, &code, nullptr, &serverText, nullptr,
                                         &serverControls, 1);
        messageId_ = -1;
        const std::string serverMessage = serverText ? serverText : "";
        ldap_memfree(serverText);
        if (rc != LDAP_SUCCESS) {
            ldap_controls_free(serverControls);
            done_ = true;
            throw LdapFailure(rc, Describe());
        }
        cookie_.clear();
        if (options_.pageSize > 0 && serverControls) {
            if (LDAPControl* page =
                    ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, serverControls, nullptr)) {
                ber_int_t estimate = 0;
                berval cookie{};
                if (ldap_parse_pageresponse_control(ld, page, &estimate, &cookie) == LDAP_SUCCESS) {
                    cookie_.assign(cookie.bv_val ? cookie.bv_val : "", cookie.bv_len);
                    ber_memfree(cookie.bv_val);
                }
            }
        }
        ldap_controls_free(serverControls);

        const bool reachedOwnLimit =
            options_.sizeLimit > 0 && delivered_ >= static_cast<std::size_t>(options_.sizeLimit);
        // A limit the caller set ends the rows quietly; the server's own limit is a failure.
        if (code == LDAP_SIZELIMIT_EXCEEDED && options_.sizeLimit > 0)
            code = LDAP_SUCCESS;
        if (code != LDAP_SUCCESS) {
            done_ = true;
            throw LdapFailure(code, Describe(), serverMessage);
        }
        if (cookie_.empty() || reachedOwnLimit) {
            done_ = true;
            return true;
        }
        // More pages follow: the next call asks for them.
        return true;
    }
}

} // namespace platform::directory
