// An AD-like schema for slapd. Active Directory's own OIDs where AD defines the attribute; the
// Exchange attributes and the root DSE's naming contexts use the private arc 1.3.6.1.4.1.32473.
// Every attribute has matching rules, so that equality and wildcard filters work on it.

#include "platform/directory/DirectoryServer.h"

namespace platform::directory {

std::string ActiveDirectorySchemaText() {
    return R"(# AD-like schema of the private directory server.

attributetype ( 1.2.840.113556.1.2.210 NAME 'proxyAddresses'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )

attributetype ( 1.2.840.113556.1.4.782 NAME 'objectCategory'
    EQUALITY distinguishedNameMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 SINGLE-VALUE )

attributetype ( 1.2.840.113556.1.4.8 NAME 'userAccountControl'
    EQUALITY integerMatch ORDERING integerOrderingMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.27 SINGLE-VALUE )

attributetype ( 1.2.840.113556.1.4.221 NAME 'sAMAccountName'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )

attributetype ( 1.2.840.113556.1.4.619 NAME 'dNSHostName'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )

attributetype ( 1.3.6.1.4.1.32473.1.1.1 NAME 'mailNickname'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )

attributetype ( 1.3.6.1.4.1.32473.1.1.2 NAME 'msExchHomeServerName'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )

attributetype ( 1.3.6.1.4.1.32473.1.1.3 NAME 'msExchMailboxGuid'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )

attributetype ( 1.3.6.1.4.1.32473.1.1.10 NAME 'defaultNamingContext'
    EQUALITY distinguishedNameMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 SINGLE-VALUE )

attributetype ( 1.3.6.1.4.1.32473.1.1.11 NAME 'rootDomainNamingContext'
    EQUALITY distinguishedNameMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 SINGLE-VALUE )

attributetype ( 1.3.6.1.4.1.32473.1.1.12 NAME 'schemaNamingContext'
    EQUALITY distinguishedNameMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 SINGLE-VALUE )

# The AD and Exchange attributes of an account or mailbox, carried by inetOrgPerson entries.
objectclass ( 1.3.6.1.4.1.32473.1.2.1 NAME 'adRecipient' SUP top AUXILIARY
    MAY ( proxyAddresses $ objectCategory $ userAccountControl $ sAMAccountName $
          mailNickname $ msExchHomeServerName $ msExchMailboxGuid ) )

objectclass ( 1.2.840.113556.1.5.15 NAME 'contact' SUP organizationalPerson STRUCTURAL
    MAY ( mail $ displayName $ proxyAddresses $ objectCategory $ mailNickname ) )

objectclass ( 1.2.840.113556.1.3.23 NAME 'container' SUP top STRUCTURAL
    MUST cn MAY ( description $ objectCategory ) )

objectclass ( 1.2.840.113556.1.3.30 NAME 'computer' SUP top STRUCTURAL
    MUST cn MAY ( dNSHostName $ sAMAccountName $ objectCategory $ userAccountControl ) )
)";
}

} // namespace platform::directory
