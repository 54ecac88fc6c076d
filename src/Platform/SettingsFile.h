#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

// One JSON object in a file, from key to value, shared with other processes: the storage under
// UserDefaults and the file-manager badge map, which share the app group's file.
//
// Reads come from memory. Before a read, the file is looked at (at most every few milliseconds,
// or at once through synchronize()) and read again when another process has replaced it; keys
// this process changed and has not written yet keep their local values. A file that took long
// to read (a large badge map) is read again only after a pause as long as that read took, at
// most kMaxReloadPause: a reader of a file that another process keeps rewriting (a full sync's
// badges) reads it at most once per change and gets that pause for its other work between two
// reads, and it still sees each change within a pause and two reads.
//
// Writes change memory at once and reach the file shortly after the first unsaved change
// (coalesced, well within 200 ms), so that a writer that sets thousands of values rewrites the
// file a few times rather than once per call. While changes keep coming, a file that is slow to
// write (a large badge map) is written less often, so that writing takes about a fiftieth of the
// time; each change still reaches the file within about 150 ms. The file is replaced atomically
// (temporary file, fsync, rename) under a lock on its folder, after merging in what another process
// wrote. A file that does not parse reads as empty and is moved aside as "<file name>.corrupt"
// before the first write replaces it; while it cannot be moved aside, nothing replaces it. Failures
// to write are swallowed: values stay in memory and are written with the next change. flush() and
// destruction write at once.
//
// Thread-safe. Readers and writers run under the file's lock and must not call back into it.
// Callbacks given to whenPersisted() run on the file's own queue and must not hold the last
// reference to it; an exception that escapes one is reported on standard error.
class SettingsFile {
public:
    // The longest pause after a slow read of the file before it is read again: short, so that
    // another process's badge shows within 200 ms even on a map of 100,000 files.
    static constexpr std::chrono::milliseconds kMaxReloadPause{25};

    // What readers and writers see: the values, with a memory of which keys hold a dictionary
    // of texts, so that a lookup in a large dictionary does not check all of it every time.
    class Values {
    public:
        const nlohmann::json& all() const { return m_values; }
        // The dictionary of texts under `key`, or nullptr when the key holds anything else
        // (one foreign member spoils all).
        const nlohmann::json* stringDictionary(const std::string& key) const;
        // The dictionary of texts under `key` for changing its members; anything else there is
        // replaced by an empty dictionary. The members set through it must be texts.
        nlohmann::json& stringDictionaryToChange(const std::string& key);
        void set(const std::string& key, const nlohmann::json& value);
        void erase(const std::string& key);

    private:
        friend class SettingsFile;
        explicit Values(nlohmann::json& values) : m_values(values) {}
        void forgetShapes() { m_shapes.clear(); }

        nlohmann::json& m_values;
        mutable std::map<std::string, bool> m_shapes;
    };

    // The process's instance on `file`, created on first use.
    static std::shared_ptr<SettingsFile> shared(const std::filesystem::path& file);
    // Writes and forgets every shared instance (for tests that change the home folder).
    static void resetShared();

    // An instance on `file`, independent of the shared ones (tests use two to play two
    // processes). Reads the file now.
    explicit SettingsFile(std::filesystem::path file);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const std::filesystem::path& file() const;

    // Runs `reader` on the current values, after looking for another process's writes.
    void read(const std::function<void(const Values&)>& reader) const;
    // Runs `writer`, which changes only `key`, and schedules the write of the file.
    void write(const std::string& key, const std::function<void(Values&)>& writer);

    // Runs `callback` once the file holds every change made before this call (also when there
    // was none, or the write failed). Callbacks with the same `tag` that are still waiting
    // collapse into the first one.
    void whenPersisted(const std::string& tag, std::function<void()> callback);
    // Writes unsaved changes now and runs the waiting callbacks. Not from a whenPersisted()
    // callback.
    void flush();
    // Looks at the file now and reads it again when another process has replaced it. False
    // when that change is held back by the pause after a slow read: ask again after
    // kMaxReloadPause to see it.
    bool synchronize();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace corvane
