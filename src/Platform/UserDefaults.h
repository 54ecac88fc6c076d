#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

class SettingsFile;

// A settings suite: one JSON object in a file, from key to value, shared with other processes.
//
// The standard suite is Paths::config() / "com.corvane.app.json" (named after the application's
// identifier); a named suite such as "group.com.corvane.app" is Paths::config() / "<name>.json".
// The suite reads and writes through a SettingsFile, which says how other processes' changes are
// read and how changes reach the file. Typed getters give nothing when the key is missing or
// holds a value of another type.
//
// Thread-safe.
class UserDefaults {
public:
    using StringDictionary = std::map<std::string, std::string>;

    // The identifier that names the standard suite's file.
    static constexpr const char* kStandardSuiteName = "com.corvane.app";

    // The process's instances, one per file: created on first use for the folders that Paths
    // gives at that moment, so a test that points HOME elsewhere gets fresh instances.
    static std::shared_ptr<UserDefaults> standard();
    // Nothing when the name cannot be a suite: empty, "." first, or holding "/".
    static std::shared_ptr<UserDefaults> suite(const std::string& name);
    // The file of the suite `name`, with the same rule.
    static std::optional<std::filesystem::path> suiteFile(const std::string& name);
    // Writes and forgets every shared instance (for tests that change the home folder).
    static void resetShared();

    // An instance on `file`, independent of the shared ones (tests use two to play two
    // processes). Reads the file now.
    explicit UserDefaults(const std::filesystem::path& file);
    // A suite on `file`, which others may read and write too.
    explicit UserDefaults(std::shared_ptr<SettingsFile> file);
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

    void setString(const std::string& key, const std::string& value);
    void setInteger(const std::string& key, std::int64_t value);
    void setBool(const std::string& key, bool value);
    void setStringArray(const std::string& key, const std::vector<std::string>& value);
    void setStringDictionary(const std::string& key, const StringDictionary& value);
    // Any JSON value (also shapes that the typed getters refuse).
    void setJSON(const std::string& key, const nlohmann::json& value);
    void remove(const std::string& key);

    // Writes unsaved changes now.
    void flush();
    // Looks at the file now for another process's writes (see SettingsFile::synchronize()).
    bool synchronize();

private:
    const std::shared_ptr<SettingsFile> m_file;
};

}  // namespace corvane
