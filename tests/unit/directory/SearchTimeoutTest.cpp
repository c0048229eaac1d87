// The "Timeout" command property against a server that accepts a search and never answers it.
// The stand-in server speaks just enough LDAP: it answers the bind and the first read with
// success and stays silent on everything after.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/host/ServerFolder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class SilentLdapServer {
public:
    explicit SilentLdapServer(const fs::path& socketPath) {
        listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 4) != 0)
            throw std::runtime_error("cannot listen on " + socketPath.string());
        thread_ = std::thread([this] { Serve(); });
    }
    ~SilentLdapServer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::atomic<int> answered = 0;

private:
    void Serve() {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0)
            return;
        std::vector<unsigned char> pending;
        unsigned char buffer[4096];
        for (;;) {
            const auto got = read(client, buffer, sizeof buffer);
            if (got <= 0)
                break;
            pending.insert(pending.end(), buffer, buffer + got);
            while (auto message = TakeMessage(pending)) {
                const unsigned char id = message->first;
                const unsigned char operation = message->second;
                if (answered >= 2)
                    continue;
                // BindResponse (0x61) for a bind, SearchResultDone (0x65) for a search; success.
                const unsigned char tag = operation == 0x60 ? 0x61 : 0x65;
                const unsigned char reply[] = {0x30, 0x0c, 0x02, 0x01, id,   tag,  0x07,
                                               0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
                if (write(client, reply, sizeof reply) != sizeof reply)
                    break;
                ++answered;
            }
        }
        close(client);
    }

    // The message id and operation tag of the first whole message, removed from `pending`.
    static std::optional<std::pair<unsigned char, unsigned char>>
    TakeMessage(std::vector<unsigned char>& pending) {
        if (pending.size() < 2)
            return std::nullopt;
        std::size_t header = 2;
        std::size_t length = pending[1];
        if (length & 0x80) {
            const std::size_t bytes = length & 0x7f;
            if (pending.size() < 2 + bytes)
                return std::nullopt;
            length = 0;
            for (std::size_t i = 0; i < bytes; ++i)
                length = (length << 8) | pending[2 + i];
            header += bytes;
        }
        if (pending.size() < header + length || length < 4)
            return std::nullopt;
        // INTEGER message id (one byte for the first ids), then the operation's tag.
        const unsigned char id = pending[header + 2];
        const unsigned char operation = pending[header + 3];
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(header + length));
        return std::make_pair(id, operation);
    }

    int listener_ = -1;
    std::thread thread_;
};

TEST(SearchTimeout, ASearchTheServerNeverAnswersEndsWithTheTimeLimitFailure) {
    char pattern[] = "/tmp/lvtXXXXXX";
    const fs::path root = mkdtemp(pattern);
    const auto socketPath = root / "s";
    platform::host::ServerFolder(root).WriteMachineNames(
        {"MAIL01", "corp.example.com", "corp.example.com", "dc01.corp.example.com",
         "ldapi://" + std::string("%2Ftmp%2F") + root.filename().string() + "%2Fs"});
    const char* saved = std::getenv(platform::host::kRootVariable);
    const std::string savedRoot = saved ? saved : "";
    setenv(platform::host::kRootVariable, root.c_str(), 1);

    std::int32_t number = 0;
    {
        SilentLdapServer server(socketPath);
        try {
            auto connection =
                platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
            connection->SetProvider("ADSDSOObject");
            connection->Open("ADs Provider", "", "");
            auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
            command->SetActiveConnection(connection);
            command->SetCommandText("SELECT cn FROM 'LDAP://corp.example.com/DC=corp,DC=example,"
                                    "DC=com' WHERE cn='x'");
            command->SetProperty("Timeout", platform::Variant(1));
            command->Execute();
        } catch (const platform::Error& error) {
            number = error.Number();
        }
        EXPECT_EQ(server.answered, 2);
    }
    if (saved)
        setenv(platform::host::kRootVariable, savedRoot.c_str(), 1);
    else
        unsetenv(platform::host::kRootVariable);
    fs::remove_all(root);
    EXPECT_EQ(number, platform::directory::hr_ds::ERROR_DS_TIMELIMIT_EXCEEDED);
}

} // namespace
