#pragma once

// The handlers of the command table, one file per command or small group. Each runs one command
// that may run in the session's state and answers it; the table has checked the state.

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapSessionContext.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

// The answers of a command that changes messages when it cannot.
inline constexpr const char* kMessagesGone = "Some of the messages have been removed meanwhile";
inline constexpr const char* kFolderReadOnly = "The folder is open read-only (EXAMINE)";

// Misc.cpp: CAPABILITY, NOOP, CHECK, LOGOUT, ID, STARTTLS, NAMESPACE and ENABLE.
Output Capability(SessionContext& session, const Command& command);
Output Noop(SessionContext& session, const Command& command);
Output Check(SessionContext& session, const Command& command);
Output Logout(SessionContext& session, const Command& command);
Output Id(SessionContext& session, const Command& command);
Output StartTls(SessionContext& session, const Command& command);
Output Namespace(SessionContext& session, const Command& command);
Output Enable(SessionContext& session, const Command& command);

// Authenticate.cpp: LOGIN and AUTHENTICATE PLAIN, whose response comes on a line of its own.
Output Login(SessionContext& session, const Command& command);
Output Authenticate(SessionContext& session, const Command& command);
Output ContinueAuthentication(SessionContext& session, std::string_view line);

// Select.cpp: SELECT and EXAMINE, CLOSE and UNSELECT.
Output Select(SessionContext& session, const Command& command);
Output Close(SessionContext& session, const Command& command);

// Folders.cpp: CREATE, DELETE, RENAME, SUBSCRIBE and UNSUBSCRIBE.
Output Create(SessionContext& session, const Command& command);
Output Delete(SessionContext& session, const Command& command);
Output Rename(SessionContext& session, const Command& command);
Output Subscribe(SessionContext& session, const Command& command);

// Append.cpp.
Output Append(SessionContext& session, const Command& command);

// Copy.cpp: COPY and MOVE, the arguments from `first` on as for Fetch.
Output CopyOrMove(SessionContext& session, const Command& command, std::size_t first, bool byUid,
                  bool move);

// List.cpp: LIST and LSUB.
Output List(SessionContext& session, const Command& command);

// Status.cpp.
Output Status(SessionContext& session, const Command& command);

// Fetch.cpp, Store.cpp, Search.cpp: the arguments start at `first` (1 after UID); `byUid` reads
// sets as UIDs and answers with them.
Output Fetch(SessionContext& session, const Command& command, std::size_t first, bool byUid);
Output Store(SessionContext& session, const Command& command, std::size_t first, bool byUid);
Output Search(SessionContext& session, const Command& command, std::size_t first, bool byUid);

// Expunge.cpp: EXPUNGE; RemoveDeleted removes the \Deleted messages, of `uidSet` only when
// given (UID EXPUNGE), reporting each unless `silent` (CLOSE).
Output Expunge(SessionContext& session, const Command& command);
Output RemoveDeleted(SessionContext& session, const std::string& tag,
                     const std::vector<Argument>* uidSet, bool silent);

// Uid.cpp: UID FETCH, STORE, SEARCH, EXPUNGE, COPY and MOVE.
Output Uid(SessionContext& session, const Command& command);

// Idle.cpp: IDLE, ended by a line of its own.
Output Idle(SessionContext& session, const Command& command);
Output ContinueIdle(SessionContext& session, std::string_view line);

} // namespace server::imap
