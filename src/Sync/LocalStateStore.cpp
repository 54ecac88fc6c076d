#include "Sync/LocalStateStore.h"

#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Models/EncodingError.h"
#include "Platform/AtomicFile.h"
#include "Platform/PacedWork.h"
#include "Platform/Unicode.h"

namespace corvane {

std::ostream& operator<<(std::ostream& out, const FileState& state)
{
    return out << "FileState{" << state.hash << ", v" << state.version << ", " << state.mtime
               << "}";
}

std::string currentStateTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

LocalStateStore::LocalStateStore(const std::filesystem::path& syncDir, std::shared_ptr<Clock> clock,
                                 Clock::Duration saveInterval)
    : m_filePath(syncDir / ".corvane" / "sync_state.json"),
      m_writer(std::make_unique<PacedWork>(
          "com.corvane.sync.state", [this] { write(); }, std::move(clock), saveInterval))
{
}

LocalStateStore::~LocalStateStore() = default;

std::optional<FileState> LocalStateStore::get(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_states.find(path);
    if (found == m_states.end()) {
        return std::nullopt;
    }
    return found->second;
}

void LocalStateStore::set(const std::string& path, const FileState& state)
{
    std::lock_guard lock(m_mutex);
    m_states[path] = state;
}

void LocalStateStore::remove(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_removed = m_states.erase(path) > 0 || m_removed;
}

std::vector<std::string> LocalStateStore::pathsBelow(const std::string& folder) const
{
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    std::vector<std::string> paths;
    std::lock_guard lock(m_mutex);
    for (auto it = m_states.lower_bound(prefix);
         it != m_states.end() && it->first.starts_with(prefix); ++it) {
        paths.push_back(it->first);
    }
    return paths;
}

std::map<std::string, FileState> LocalStateStore::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_states;
}

void LocalStateStore::load()
{
    std::ifstream file(m_filePath, std::ios::binary);
    if (!file) {
        return;
    }
    std::stringstream text;
    text << file.rdbuf();
    auto decoded = decode(text.str());
    if (!decoded) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_states = std::move(*decoded);
}

void LocalStateStore::requestSave()
{
    bool removed = false;
    {
        std::lock_guard lock(m_mutex);
        removed = m_removed;
    }
    if (removed) {
        m_writer->requestSoon();
    } else {
        m_writer->request();
    }
}

void LocalStateStore::save()
{
    m_writer->runNow();
}

void LocalStateStore::write()
{
    std::string text;
    try {
        // Written out as text under the lock rather than copied: with a large folder a copy of
        // the map, and freeing it afterwards, take longer than the text itself.
        std::lock_guard lock(m_mutex);
        m_removed = false;
        text = encode(m_states);
    } catch (const EncodingError&) {
        return;  // swallowed with the write failures below; nothing stored is other than UTF-8
    }
    if (m_hooks.beforeWrite) {
        m_hooks.beforeWrite(text);
    }
    // A failed save is swallowed on purpose: the map stays in memory and the next save
    // (end of a task, stop) writes it again.
    AtomicFile::tryWrite(m_filePath, text);
}

namespace {

// `text` as a JSON string, in the form the file has always had: escapes as the JSON library
// writes them (control characters as \u00xx, other bytes unchanged) and every "/" written as
// "\/", which a "/" may only be inside a string, so readers unescape it as usual.
void appendString(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += kHex[static_cast<unsigned char>(c) >> 4];
                out += kHex[static_cast<unsigned char>(c) & 0x0F];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

}  // namespace

std::string LocalStateStore::encode(const std::map<std::string, FileState>& states)
{
    // Written directly rather than through a JSON document: the file is rewritten whole while
    // work runs, and for a large folder building the document cost more than the write.
    for (const auto& [path, state] : states) {
        if (!Unicode::isValidUTF8(path) || !Unicode::isValidUTF8(state.hash) ||
            !Unicode::isValidUTF8(state.mtime)) {
            throw EncodingError("The state of " + path + " is not valid UTF-8");
        }
    }
    std::string text = "{";
    text.reserve(states.size() * 160);
    for (const auto& [path, state] : states) {
        if (text.size() > 1) {
            text += ',';
        }
        appendString(text, path);
        text += ":{\"hash\":";
        appendString(text, state.hash);
        text += ",\"mtime\":";
        appendString(text, state.mtime);
        text += ",\"version\":";
        text += std::to_string(state.version);
        text += '}';
    }
    text += '}';
    return text;
}

std::optional<std::map<std::string, FileState>> LocalStateStore::decode(const std::string& text)
{
    const nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    std::map<std::string, FileState> states;
    for (const auto& [path, record] : object.items()) {
        if (!record.is_object()) {
            return std::nullopt;
        }
        const auto hash = record.find("hash");
        const auto version = record.find("version");
        const auto mtime = record.find("mtime");
        if (hash == record.end() || !hash->is_string() || version == record.end() ||
            !version->is_number_integer() || mtime == record.end() || !mtime->is_string()) {
            return std::nullopt;
        }
        if (version->is_number_unsigned() && version->get<std::uint64_t>() > INT64_MAX) {
            return std::nullopt;
        }
        states[path] = FileState{hash->get<std::string>(), version->get<std::int64_t>(),
                                 mtime->get<std::string>()};
    }
    return states;
}

}  // namespace corvane
