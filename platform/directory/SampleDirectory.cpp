// Generates the sample directory's LDIF: mailbox owners of this server and of another one, and the
// malformed and edge-case entries that the sink and the setup program must get past.

#include "platform/directory/SampleDirectory.h"

#include "platform/core/Text.h"
#include "platform/directory/DirectoryPath.h"
#include "platform/directory/LdifText.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <random>

namespace platform::directory {

namespace {

constexpr const char* kGivenNames[] = {"Anna",  "Bernd", "Clara", "David", "Eva",   "Frank",
                                       "Greta", "Hugo",  "Ines",  "Jonas", "Karin", "Lukas",
                                       "Mona",  "Nils",  "Olga",  "Paul",  "Rosa",  "Sven"};
constexpr const char* kSurnames[] = {
    "Albers", "Berg",   "Cramer", "Dietz", "Ebert", "Fuchs",  "Graf", "Hahn",   "Imhof",  "Jung",
    "Keller", "Lorenz", "Maier",  "Nagel", "Otto",  "Peters", "Roth", "Schulz", "Thiele", "Vogt"};

std::string Lower(std::string text) {
    return text::AsciiLower(std::move(text));
}

std::string Upper(std::string text) {
    for (auto& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string CurrentLoginName() {
    if (const passwd* entry = getpwuid(getuid()))
        return entry->pw_name;
    return "operator";
}

class Generator {
public:
    Generator(const SampleDirectorySettings& settings)
        : settings_(settings), random_(settings.seed) {
        result_.baseDn = DnsNameToDn(settings.forestDnsName);
        personCategory_ = "CN=Person,CN=Schema,CN=Configuration," + result_.baseDn;
    }

    SampleDirectory Run() {
        const auto& forest = settings_.forestDnsName;
        Put("dn", result_.baseDn);
        Put("objectClass", "top");
        Put("objectClass", "dcObject");
        Put("objectClass", "organization");
        const auto firstLabel = forest.substr(0, forest.find('.'));
        Put("dc", firstLabel);
        Put("o", firstLabel);
        EndEntry();
        Put("dn", "CN=Users," + result_.baseDn);
        Put("objectClass", "top");
        Put("objectClass", "container");
        Put("cn", "Users");
        EndEntry();

        const std::size_t otherUsers = settings_.users / 4 + 1;
        for (std::size_t i = 0; i < settings_.users + otherUsers; ++i) {
            const bool local = i < settings_.users;
            const auto given = std::string(kGivenNames[Pick(std::size(kGivenNames))]);
            const auto surname = std::string(kSurnames[Pick(std::size(kSurnames))]);
            char number[24];
            std::snprintf(number, sizeof number, "%05zu", i + 1);
            const auto alias = Lower(given.substr(0, 1) + surname) + number;
            const auto server = local ? settings_.computerName : settings_.otherServerName;
            Mailbox m;
            m.cn = given + " " + surname + " " + number;
            m.given = given;
            m.surname = surname;
            m.alias = alias;
            m.mail = alias + "@" + forest;
            m.server = server;
            m.proxies = {"SMTP:" + m.mail,
                         "smtp:" + Lower(given + "." + surname) + "." + number + "@" + forest,
                         "X400:c=US;a= ;p=Lorvanta;o=Exchange;s=" + surname + ";g=" + given + ";",
                         "smtp:" + alias + "@mail." + forest,
                         "X500:/o=Lorvanta/ou=First Administrative Group/cn=Recipients/cn=" +
                             alias};
            WriteMailbox(m);
            if (i == 0 && local)
                result_.firstLocalProxyAddresses = m.proxies;
            (local ? result_.localAliases : result_.otherServerAliases).push_back(alias);
        }

        if (!result_.localAliases.empty()) {
            // A contact of another organisation whose address shares the first user's prefix.
            const auto& alias = result_.localAliases.front();
            result_.contactMail = alias + "@partner.example.net";
            Put("dn", "CN=" + alias + " (partner)," + UsersDn());
            for (auto cls : {"top", "person", "organizationalPerson", "contact"})
                Put("objectClass", cls);
            Put("cn", alias + " (partner)");
            Put("sn", alias);
            Put("mail", result_.contactMail);
            Put("objectCategory", "CN=Contact,CN=Schema,CN=Configuration," + result_.baseDn);
            Put("proxyAddresses", "SMTP:" + result_.contactMail);
            Put("proxyAddresses", "smtp:" + alias + ".partner@partner.example.net");
            EndEntry();
        }

        Mailbox disabled = Special("Disabled Account", "disabled.account");
        disabled.accountControl = 514;
        WriteMailbox(disabled);
        result_.disabledAlias = disabled.alias;

        const auto systemName = "SystemMailbox" + Guid();
        Mailbox system = Special(systemName, systemName);
        system.proxies = {"SMTP:" + system.mail};
        WriteMailbox(system);
        result_.systemMailboxAlias = systemName;

        Mailbox noMail = Special("No Mail Address", "nomail.user");
        noMail.mail.clear();
        noMail.proxies.clear();
        WriteMailbox(noMail);
        result_.noMailAlias = noMail.alias;

        Mailbox noAlias = Special("No Alias", "noalias.user");
        noAlias.alias.clear();
        noAlias.account = "noalias.user";
        WriteMailbox(noAlias);
        result_.noAliasMail = noAlias.mail;

        Mailbox slash = Special("Sales / Marketing Desk", "sales.desk");
        slash.surname = "O'Neil Desk";
        result_.quotedSurname = slash.surname;
        WriteMailbox(slash);
        result_.slashDisplayName = slash.cn;
        result_.slashAlias = slash.alias;

        // Mail for an address beyond ASCII arrives over SMTPUTF8 (RFC 6531).
        Mailbox utf8 = Special("Joerg Weiss", "joerg.weiss");
        utf8.given = "J\xC3\xB6rg";                    // Jörg
        utf8.surname = "Wei\xC3\x9F";                  // Weiß
        result_.utf8Address = "j\xC3\xB6rg@" + forest; // jörg@
        utf8.proxies.push_back("smtp:" + result_.utf8Address);
        WriteMailbox(utf8);
        result_.utf8Alias = utf8.alias;

        result_.operatorAccount =
            settings_.operatorAccount.empty() ? CurrentLoginName() : settings_.operatorAccount;
        Put("dn", "CN=" + result_.operatorAccount + " (operator)," + UsersDn());
        for (auto cls : {"top", "person", "organizationalPerson", "inetOrgPerson", "adRecipient"})
            Put("objectClass", cls);
        Put("cn", result_.operatorAccount + " (operator)");
        Put("sn", result_.operatorAccount);
        Put("sAMAccountName", result_.operatorAccount);
        Put("userAccountControl", "512");
        Put("objectCategory", personCategory_);
        EndEntry();

        result_.ldif = std::move(ldif_);
        return result_;
    }

private:
    struct Mailbox {
        std::string cn, given, surname, alias, account, mail, server;
        std::vector<std::string> proxies;
        int accountControl = 512;
    };

    std::size_t Pick(std::size_t count) { return random_() % count; }

    std::string Guid() {
        char text[40];
        std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%04X%08X}",
                      static_cast<unsigned>(random_()), static_cast<unsigned>(random_() & 0xFFFF),
                      static_cast<unsigned>(random_() & 0xFFFF),
                      static_cast<unsigned>(random_() & 0xFFFF),
                      static_cast<unsigned>(random_() & 0xFFFF), static_cast<unsigned>(random_()));
        return text;
    }

    std::string UsersDn() const { return "CN=Users," + result_.baseDn; }

    Mailbox Special(const std::string& cn, const std::string& alias) {
        Mailbox m;
        m.cn = cn;
        m.surname = cn;
        m.alias = alias;
        m.mail = alias + "@" + settings_.forestDnsName;
        m.server = settings_.computerName;
        m.proxies = {"SMTP:" + m.mail, "X400:c=US;a= ;p=Lorvanta;o=Exchange;s=" + alias + ";"};
        return m;
    }

    void WriteMailbox(const Mailbox& m) {
        Put("dn", "CN=" + m.cn + "," + UsersDn());
        for (auto cls : {"top", "person", "organizationalPerson", "inetOrgPerson", "adRecipient"})
            Put("objectClass", cls);
        Put("cn", m.cn);
        Put("sn", m.surname);
        if (!m.given.empty())
            Put("givenName", m.given);
        Put("displayName", m.cn);
        const auto account = m.account.empty() ? m.alias : m.account;
        Put("sAMAccountName", account.substr(0, 20));
        Put("userAccountControl", std::to_string(m.accountControl));
        Put("objectCategory", personCategory_);
        if (!m.mail.empty())
            Put("mail", m.mail);
        if (!m.alias.empty())
            Put("mailNickname", m.alias);
        Put("msExchHomeServerName", HomeServerValue(m.server));
        Put("msExchMailboxGuid", Guid());
        for (const auto& proxy : m.proxies)
            Put("proxyAddresses", proxy);
        if (!settings_.userPassword.empty() && m.server == settings_.computerName)
            Put("userPassword", settings_.userPassword);
        EndEntry();
        ++result_.mailboxCount;
        if (m.server == settings_.computerName)
            ++result_.localMailboxCount;
    }

    void Put(std::string_view name, std::string_view value) { AppendLdifLine(ldif_, name, value); }
    void EndEntry() { ldif_ += '\n'; }

    const SampleDirectorySettings& settings_;
    std::mt19937 random_;
    std::string ldif_;
    SampleDirectory result_;
    std::string personCategory_;
};

} // namespace

std::string HomeServerValue(const std::string& computerName) {
    return "/o=Lorvanta/ou=First Administrative Group/cn=Configuration/cn=Servers/cn=" +
           Upper(computerName);
}

SampleDirectory GenerateSampleDirectory(const SampleDirectorySettings& settings) {
    return Generator(settings).Run();
}

} // namespace platform::directory
