#include "Platform/UserDefaults.h"

#include <cmath>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "Platform/InstanceRegistry.h"
#include "Platform/Paths.h"
#include "Platform/SettingsFile.h"

namespace corvane {
namespace {

using nlohmann::json;

InstanceRegistry<UserDefaults>& registry()
{
    static InstanceRegistry<UserDefaults> instances;
    return instances;
}

std::shared_ptr<UserDefaults> sharedInstance(const std::filesystem::path& file)
{
    return registry().get(file, [](const std::filesystem::path& path) {
        return std::make_shared<UserDefaults>(SettingsFile::shared(path));
    });
}

bool isValidSuiteName(const std::string& name)
{
    return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// Runs `reader` on the value under `key`, or gives nothing when there is none.
template <typename Result, typename Reader>
std::optional<Result> readValue(const SettingsFile& file, const std::string& key, Reader&& reader)
{
    std::optional<Result> result;
    file.read([&](const SettingsFile::Values& values) {
        const auto value = values.all().find(key);
        if (value != values.all().end()) {
            result = reader(*value);
        }
    });
    return result;
}

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::standard()
{
    return sharedInstance(Paths::config() / (std::string(kStandardSuiteName) + ".json"));
}

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name)
{
    const auto file = suiteFile(name);
    return file ? sharedInstance(*file) : nullptr;
}

std::optional<std::filesystem::path> UserDefaults::suiteFile(const std::string& name)
{
    if (!isValidSuiteName(name)) {
        return std::nullopt;
    }
    return Paths::config() / (name + ".json");
}

void UserDefaults::resetShared()
{
    registry().clear();
    SettingsFile::resetShared();
}

UserDefaults::UserDefaults(const std::filesystem::path& file)
    : UserDefaults(std::make_shared<SettingsFile>(file))
{
}

UserDefaults::UserDefaults(std::shared_ptr<SettingsFile> file) : m_file(std::move(file)) {}

UserDefaults::~UserDefaults() = default;

const std::filesystem::path& UserDefaults::file() const
{
    return m_file->file();
}

bool UserDefaults::contains(const std::string& key) const
{
    return readValue<bool>(*m_file, key, [](const json&) { return true; }).has_value();
}

std::optional<std::string> UserDefaults::string(const std::string& key) const
{
    return readValue<std::string>(*m_file, key,
                                  [](const json& value) -> std::optional<std::string> {
                                      if (!value.is_string()) {
                                          return std::nullopt;
                                      }
                                      return value.get<std::string>();
                                  });
}

std::optional<std::int64_t> UserDefaults::integer(const std::string& key) const
{
    return readValue<std::int64_t>(
        *m_file, key, [](const json& value) -> std::optional<std::int64_t> {
            if (value.is_number_unsigned()) {
                const auto number = value.get<std::uint64_t>();
                if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                    return std::nullopt;
                }
                return static_cast<std::int64_t>(number);
            }
            if (value.is_number_integer()) {
                return value.get<std::int64_t>();
            }
            if (value.is_number_float()) {
                const double number = std::trunc(value.get<double>());
                // 2^63 is exactly representable; anything at or beyond it does not fit.
                if (!std::isfinite(number) || number >= 9223372036854775808.0 ||
                    number < -9223372036854775808.0) {
                    return std::nullopt;
                }
                return static_cast<std::int64_t>(number);
            }
            return std::nullopt;
        });
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const
{
    return readValue<bool>(*m_file, key, [](const json& value) -> std::optional<bool> {
        if (!value.is_boolean()) {
            return std::nullopt;
        }
        return value.get<bool>();
    });
}

std::optional<std::vector<std::string>> UserDefaults::stringArray(const std::string& key) const
{
    return readValue<std::vector<std::string>>(
        *m_file, key, [](const json& value) -> std::optional<std::vector<std::string>> {
            if (!value.is_array()) {
                return std::nullopt;
            }
            std::vector<std::string> result;
            result.reserve(value.size());
            for (const auto& element : value) {
                if (!element.is_string()) {
                    return std::nullopt;
                }
                result.push_back(element.get<std::string>());
            }
            return result;
        });
}

std::optional<UserDefaults::StringDictionary>
UserDefaults::stringDictionary(const std::string& key) const
{
    std::optional<StringDictionary> result;
    m_file->read([&](const SettingsFile::Values& values) {
        const json* dictionary = values.stringDictionary(key);
        if (!dictionary) {
            return;
        }
        result.emplace();
        for (const auto& [member, text] : dictionary->items()) {
            result->emplace_hint(result->end(), member, text.get<std::string>());
        }
    });
    return result;
}

void UserDefaults::setString(const std::string& key, const std::string& value)
{
    setJSON(key, value);
}

void UserDefaults::setInteger(const std::string& key, std::int64_t value)
{
    setJSON(key, value);
}

void UserDefaults::setBool(const std::string& key, bool value)
{
    setJSON(key, value);
}

void UserDefaults::setStringArray(const std::string& key, const std::vector<std::string>& value)
{
    setJSON(key, value);
}

void UserDefaults::setStringDictionary(const std::string& key, const StringDictionary& value)
{
    setJSON(key, json(value));
}

void UserDefaults::setJSON(const std::string& key, const nlohmann::json& value)
{
    m_file->write(key, [&](SettingsFile::Values& values) { values.set(key, value); });
}

void UserDefaults::remove(const std::string& key)
{
    m_file->write(key, [&](SettingsFile::Values& values) { values.erase(key); });
}

void UserDefaults::flush()
{
    m_file->flush();
}

bool UserDefaults::synchronize()
{
    return m_file->synchronize();
}

}  // namespace corvane
