// Reads and writes the COM+ catalog's text file: escaping values, parsing blocks and replacing the
// whole file under its lock.

#include "platform/complus/CatalogFile.h"

#include "platform/com/Guid.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/host/FileUpdate.h"
#include "platform/host/PrivateFiles.h"
#include "platform/host/ServerFolder.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace platform::complus {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void FailWrite(const std::string& what, const fs::path& path, int error) {
    throw Error(hr::COMADMIN_E_APP_FILE_WRITEFAIL, "Cannot " + what + " the COM+ catalog file " +
                                                       path.string() + ": " + std::strerror(error));
}

[[noreturn]] void FailRead(const fs::path& path, const std::string& why) {
    throw Error(hr::COMADMIN_E_APP_FILE_READFAIL,
                "Cannot read the COM+ catalog file " + path.string() + ": " + why);
}

std::string Escape(std::string_view value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::pair<std::string, std::string> EncodeValue(const std::string& name, const Variant& value) {
    if (value.IsText())
        return {"text", Escape(value.Text())};
    if (value.IsBool())
        return {"bool", value.Bool() ? "true" : "false"};
    if (value.IsInteger())
        return {"long", std::to_string(value.Integer())};
    throw Error(hr::DISP_E_TYPEMISMATCH, "The COM+ catalog cannot keep a value of kind " +
                                             value.TypeName() + " for property " + name);
}

std::optional<Variant> DecodeValue(std::string_view kind, std::string_view encoded) {
    if (kind == "text") {
        auto text = Unescape(encoded);
        return text ? std::optional<Variant>(Variant(*text)) : std::nullopt;
    }
    if (kind == "bool" && (encoded == "true" || encoded == "false"))
        return Variant(encoded == "true");
    if (kind == "long") {
        try {
            std::size_t used = 0;
            const auto number = std::stoll(std::string(encoded), &used);
            if (used == encoded.size())
                return Variant(static_cast<std::int64_t>(number));
        } catch (const std::exception&) {
        }
    }
    return std::nullopt;
}

std::vector<StoredApplication> Parse(std::istream& in, const fs::path& path) {
    std::vector<StoredApplication> applications;
    bool inside = false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto bad = [&] {
            FailRead(path, "line " + std::to_string(number) + " is not a catalog entry");
        };
        if (line.empty() || line[0] == '#')
            continue;
        const auto fields = text::Split(line, '\t');
        if (fields[0] == "application" && fields.size() == 1 && !inside) {
            applications.emplace_back();
            inside = true;
        } else if (fields[0] == "end" && fields.size() == 1 && inside) {
            inside = false;
        } else if (fields[0] == "property" && fields.size() == 4 && inside) {
            auto name = Unescape(fields[1]);
            auto value = DecodeValue(fields[2], fields[3]);
            if (!name || !value)
                bad();
            applications.back().Set(*name, *value);
        } else if (fields[0] == "component" && fields.size() == 5 && inside) {
            const auto clsid = com::ParseGuid(fields[1]);
            auto server = Unescape(fields[4]);
            if (!clsid || !server)
                bad();
            applications.back().components.push_back(
                {*clsid, std::string(fields[2]), std::string(fields[3]), fs::path(*server)});
        } else {
            bad();
        }
    }
    if (inside)
        FailRead(path, "the last application has no end");
    return applications;
}

std::string Format(const std::vector<StoredApplication>& applications) {
    std::ostringstream out;
    out << "# COM+ catalog: applications, their properties and their components\n";
    for (const auto& application : applications) {
        out << "application\n";
        for (const auto& [name, value] : application.properties) {
            const auto [kind, encoded] = EncodeValue(name, value);
            out << "property\t" << Escape(name) << '\t' << kind << '\t' << encoded << '\n';
        }
        for (const auto& component : application.components)
            out << "component\t" << com::FormatGuid(component.clsid) << '\t' << component.progId
                << '\t' << component.threadingModel << '\t' << Escape(component.server.string())
                << '\n';
        out << "end\n";
    }
    return out.str();
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
    // Owner only from the first byte on: the file holds passwords.
    host::ReplaceFileContent(path, bytes, host::kPrivateFileMode, FailWrite);
}

} // namespace

Variant StoredApplication::Get(const std::string& name) const {
    for (const auto& [key, value] : properties)
        if (key == name)
            return value;
    return Variant();
}

void StoredApplication::Set(const std::string& name, const Variant& value) {
    for (auto& [key, stored] : properties)
        if (key == name) {
            stored = value;
            return;
        }
    properties.emplace_back(name, value);
}

CatalogFile::CatalogFile(fs::path folder) : folder_(std::move(folder)) {
}

CatalogFile CatalogFile::FromEnvironment() {
    return CatalogFile(host::ServerFolder::FromEnvironment().ComPlusDir());
}

std::vector<StoredApplication> CatalogFile::Read() const {
    std::ifstream in(File(), std::ios::binary);
    if (!in) {
        const int error = errno;
        std::error_code ignored;
        if (!fs::exists(File(), ignored))
            return {};
        FailRead(File(), std::strerror(error));
    }
    return Parse(in, File());
}

void CatalogFile::Modify(const std::function<void(std::vector<StoredApplication>&)>& change) const {
    std::error_code error;
    host::CreatePrivateFolder(folder_, error);
    if (error)
        throw Error(hr::COMADMIN_E_APP_FILE_WRITEFAIL, "Cannot create the COM+ catalog folder " +
                                                           folder_.string() + ": " +
                                                           error.message());
    host::ExclusiveFileLock lock(folder_ / "applications.lock", host::kPrivateFileMode, FailWrite);
    auto applications = Read();
    change(applications);
    WriteWhole(File(), Format(applications));
}

} // namespace platform::complus
