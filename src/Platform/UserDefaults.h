#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

// A settings suite: one JSON object in a file, from key to value, shared with other processes.
//
// The standard suite is Paths::config() / "com.corvane.app.json" (named after the application's
// identifier); a named suite such as "group.com.corvane.app" is Paths::config() / "<name>.json".
//
// Reads come from memory. Before a read, the file is looked at (at most every few milliseconds,
// or at once through synchronize()) and read again when another process has replaced it; keys
// this process changed and has not written yet keep their local values. A file that took long
// to read (a large badge map) is read again only after a pause as long as that read took, at
// most kMaxReloadPause: a reader of a file that another process keeps rewriting (a full sync's
// badges) reads it at most once per change and gets that pause for its other work between two
// reads, and it still sees each change within a pause and two reads. Typed getters give
// nothing when the key is missing or holds a value of another type.
//
// Writes change memory at once and reach the file shortly after the first unsaved change
// (coalesced, well within 200 ms), so that a writer that sets thousands of values rewrites the
// file a few times rather than once per call. While changes keep coming, a file that is slow to
// write (a large badge map) is written less often, so that writing takes about a twentieth of the
// time; each change still reaches the file within about 150 ms. The file is replaced atomically
// (temporary file, fsync, rename) under a lock on its folder, after merging in what another process
// wrote. A file that does not parse reads as empty and is moved aside as "<file name>.corrupt"
// before the first write replaces it; while it cannot be moved aside, nothing replaces it. Failures
// to write are swallowed: settings stay in memory and are written with the next change. flush() and
// destruction write at once.
//
// Thread-safe. Callbacks given to whenPersisted() run on the suite's own queue and must not
// hold the last reference to the suite; an exception that escapes one is reported on standard
// error.
class UserDefaults {
public:
    using StringDictionary = std::map<std::string, std::string>;

    // The identifier that names the standard suite's file.
    static constexpr const char* kStandardSuiteName = "com.corvane.app";
    // The longest pause after a slow read of the file before it is read again: short, so that
    // another process's badge shows within 200 ms even on a map of 100,000 files.
    static constexpr std::chrono::milliseconds kMaxReloadPause{25};

    // The process's instances, one per file: created on first use for the folders that Paths
    // gives at that moment, so a test that points HOME elsewhere gets fresh instances.
    static std::shared_ptr<UserDefaults> standard();
    // Nothing when the name cannot be a suite: empty, "." first, or holding "/".
    static std::shared_ptr<UserDefaults> suite(const std::string& name);
    // Writes and forgets every shared instance (for tests that change the home folder).
    static void resetShared();

    // An instance on `file`, independent of the shared ones (tests use two to play two
    // processes). Reads the file now.
    explicit UserDefaults(std::filesystem::path file);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& file() const;

    bool contains(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    // Whole numbers; a floating-point number is cut toward zero. Booleans and texts are not
    // numbers.
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    // Nothing unless the value is an array whose every element is a text.
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const;
    // Nothing unless the value is an object whose every member is a text.
    std::optional<StringDictionary> stringDictionary(const std::string& key) const;
    // The member `entryKey` of the dictionary under `key`, read without copying the dictionary.
    // Nothing when `key` does not hold a dictionary of texts (one foreign member spoils all) or
    // the member is missing.
    std::optional<std::string> stringDictionaryValue(const std::string& key,
                                                     const std::string& entryKey) const;

    void setString(const std::string& key, const std::string& value);
    void setInteger(const std::string& key, std::int64_t value);
    void setBool(const std::string& key, bool value);
    void setStringArray(const std::string& key, const std::vector<std::string>& value);
    void setStringDictionary(const std::string& key, const StringDictionary& value);
    // Any JSON value (also shapes that the typed getters refuse).
    void setJSON(const std::string& key, const nlohmann::json& value);
    // Sets one member of the dictionary under `key`, in place. A key that does not hold a
    // dictionary of texts starts over from an empty dictionary.
    void setStringDictionaryValue(const std::string& key, const std::string& entryKey,
                                  const std::string& value);
    // Sets many members at once, with the same rule; an empty `entries` still leaves a
    // dictionary (possibly empty) under `key`.
    void setStringDictionaryValues(const std::string& key, const StringDictionary& entries);
    void remove(const std::string& key);

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
