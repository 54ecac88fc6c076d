#include "Store.h"

#include <algorithm>

#include "Database.h"
#include "Platform/Sha256.h"
#include "Random.h"
#include "Statement.h"
#include "Transaction.h"

namespace corvane::server {

namespace {

// Commits inside its scope do not wait for the disk. For records that need not survive a power
// cut: in WAL mode the database stays consistent either way, and the next full commit makes them
// durable too.
class UnsyncedCommits {
public:
    explicit UnsyncedCommits(Database& database) : m_database(database)
    {
        m_database.execute("PRAGMA synchronous=NORMAL");
    }
    ~UnsyncedCommits()
    {
        try {
            m_database.execute("PRAGMA synchronous=FULL");
        } catch (...) {
            // Nothing else to do: the setting is only ever changed here.
        }
    }
    UnsyncedCommits(const UnsyncedCommits&) = delete;
    UnsyncedCommits& operator=(const UnsyncedCommits&) = delete;

private:
    Database& m_database;
};

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users (
    id TEXT PRIMARY KEY,
    email_key TEXT NOT NULL UNIQUE,
    email TEXT NOT NULL,
    name TEXT NOT NULL,
    created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS sign_in_codes (
    email_key TEXT PRIMARY KEY,
    code TEXT NOT NULL,
    expires_at INTEGER NOT NULL,
    failures INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS tokens (
    digest TEXT PRIMARY KEY,
    user_id TEXT NOT NULL REFERENCES users(id),
    created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS folders (
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    owner_id TEXT NOT NULL REFERENCES users(id),
    parent_id TEXT REFERENCES folders(id),
    name TEXT NOT NULL,
    path TEXT NOT NULL,
    created_at TEXT NOT NULL,
    updated_at TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS folders_by_name ON folders(owner_id, IFNULL(parent_id, ''), name);
CREATE TABLE IF NOT EXISTS blobs (
    hash TEXT PRIMARY KEY,
    size INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS blob_owners (
    user_id TEXT NOT NULL REFERENCES users(id),
    hash TEXT NOT NULL REFERENCES blobs(hash),
    PRIMARY KEY (user_id, hash));
CREATE TABLE IF NOT EXISTS files (
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    folder_id TEXT NOT NULL REFERENCES folders(id),
    owner_id TEXT NOT NULL REFERENCES users(id),
    relative_path TEXT NOT NULL,
    name TEXT NOT NULL,
    hash TEXT NOT NULL REFERENCES blobs(hash),
    size INTEGER NOT NULL,
    version INTEGER NOT NULL,
    base_version INTEGER NOT NULL,
    created_at TEXT NOT NULL,
    updated_at TEXT NOT NULL,
    UNIQUE (folder_id, relative_path));
CREATE TABLE IF NOT EXISTS pending_uploads (
    id TEXT PRIMARY KEY,
    user_id TEXT NOT NULL REFERENCES users(id),
    folder_id TEXT NOT NULL REFERENCES folders(id),
    relative_path TEXT NOT NULL,
    hash TEXT NOT NULL,
    size INTEGER NOT NULL,
    base_version INTEGER NOT NULL,
    created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS events (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    user_id TEXT NOT NULL,
    file_id TEXT NOT NULL,
    folder_id TEXT NOT NULL,
    action TEXT NOT NULL,
    relative_path TEXT NOT NULL,
    hash TEXT,
    size INTEGER,
    version INTEGER,
    timestamp TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS pending_uploads_by_user ON pending_uploads(user_id);
CREATE INDEX IF NOT EXISTS pending_uploads_by_hash ON pending_uploads(hash);
CREATE INDEX IF NOT EXISTS files_by_hash ON files(hash);
CREATE INDEX IF NOT EXISTS events_by_user ON events(user_id, id);
CREATE INDEX IF NOT EXISTS events_by_path ON events(folder_id, relative_path);
)sql";

constexpr const char* kFolderColumns =
    "id, owner_id, parent_id, name, path, created_at, updated_at";
constexpr const char* kFileColumns = "id, folder_id, owner_id, relative_path, name, hash, size, "
                                     "version, created_at, updated_at";

std::string lastComponent(const std::string& relativePath)
{
    const auto slash = relativePath.rfind('/');
    return slash == std::string::npos ? relativePath : relativePath.substr(slash + 1);
}

// "<stem> (conflict - remote - <stamp>)[ <n>].<ext>", named as the client names its conflict
// copies (a name without an extension still ends in "."); the stamp is `now` in UTC as
// "yyyy-MM-dd HHmmss".
std::string conflictCopyName(const std::string& name, const std::string& now, int counter)
{
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot + 1) : "";
    std::string stamp = now.substr(0, 10) + " ";  // "2024-05-01T12:00:00Z"
    for (const char c : now.substr(11, 8)) {
        if (c != ':') {
            stamp.push_back(c);
        }
    }
    std::string copy = stem + " (conflict - remote - " + stamp + ")";
    if (counter > 1) {
        copy += " " + std::to_string(counter);
    }
    return copy + "." + extension;
}

// Tokens are kept only as their SHA-256: a copy of the database signs nobody in. A token is 32
// random bytes, so a plain hash is enough; there is nothing to guess.
std::string tokenDigest(const std::string& token)
{
    return Sha256::of(token);
}

std::string displayName(const std::string& email)
{
    const auto at = email.find('@');
    return at == std::string::npos || at == 0 ? email : email.substr(0, at);
}

}  // namespace

Store::Store(const std::filesystem::path& dataDir)
    : m_database(std::make_unique<Database>(dataDir / "corvane.db"))
{
    createSchema();
}

Store::~Store() = default;

void Store::createSchema()
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    m_database->execute(kSchema);
    const bool hashed = hashClearTokens();
    transaction.commit();
    if (!hashed) {
        return;
    }
    // Moves the rewritten pages into the database file and empties the WAL, so that no copy of
    // a clear token is left in either.
    m_database->execute("PRAGMA wal_checkpoint(TRUNCATE)");
}

bool Store::hashClearTokens()
{
    // Databases of earlier versions kept bearer tokens in clear, in a "token" column.
    auto& column =
        m_database->statement("SELECT 1 FROM pragma_table_info('tokens') WHERE name = 'token'");
    const bool clear = column.step();
    column.reset();
    if (!clear) {
        return false;
    }
    // Zeroes the pages that the old table and its index leave free.
    m_database->execute("PRAGMA secure_delete=ON");
    m_database->execute("CREATE TABLE token_digests (digest TEXT PRIMARY KEY, "
                        "user_id TEXT NOT NULL REFERENCES users(id), created_at TEXT NOT NULL)");
    auto& select = m_database->statement("SELECT token, user_id, created_at FROM tokens");
    while (select.step()) {
        m_database
            ->statement("INSERT OR IGNORE INTO token_digests (digest, user_id, created_at) "
                        "VALUES (?, ?, ?)")
            .bind(1, tokenDigest(select.text(0)))
            .bind(2, select.text(1))
            .bind(3, select.text(2))
            .run();
    }
    m_database->execute("DROP TABLE tokens; ALTER TABLE token_digests RENAME TO tokens;");
    m_database->execute("PRAGMA secure_delete=OFF");
    return true;
}

FolderRecord Store::readFolder(const Statement& row)
{
    return FolderRecord{row.text(0), row.text(1), row.optionalText(2), row.text(3),
                        row.text(4), row.text(5), row.text(6)};
}

FileRecord Store::readFile(const Statement& row)
{
    return FileRecord{row.text(0), row.text(1),    row.text(2),    row.text(3), row.text(4),
                      row.text(5), row.integer(6), row.integer(7), row.text(8), row.text(9)};
}

void Store::saveSignInCode(const std::string& emailKey, const std::string& code,
                           std::int64_t expiresAt)
{
    std::lock_guard lock(m_mutex);
    m_database
        ->statement("INSERT OR REPLACE INTO sign_in_codes (email_key, code, expires_at, failures) "
                    "VALUES (?, ?, ?, 0)")
        .bind(1, emailKey)
        .bind(2, code)
        .bind(3, expiresAt)
        .run();
}

CodeCheck Store::checkSignInCode(const std::string& emailKey, const std::string& code,
                                 std::int64_t now, int maxFailures)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    auto& select = m_database->statement(
        "SELECT code, expires_at, failures FROM sign_in_codes WHERE email_key = ?");
    select.bind(1, emailKey);
    if (!select.step()) {
        return CodeCheck::missing;
    }
    const std::string expected = select.text(0);
    const std::int64_t expiresAt = select.integer(1);
    const std::int64_t failures = select.integer(2);
    select.reset();

    auto remove = [&] {
        m_database->statement("DELETE FROM sign_in_codes WHERE email_key = ?")
            .bind(1, emailKey)
            .run();
    };
    CodeCheck result = CodeCheck::accepted;
    if (now >= expiresAt) {
        remove();
        result = CodeCheck::expired;
    } else if (code != expected) {
        if (failures + 1 >= maxFailures) {
            remove();
        } else {
            m_database
                ->statement("UPDATE sign_in_codes SET failures = failures + 1 WHERE email_key = ?")
                .bind(1, emailKey)
                .run();
        }
        result = CodeCheck::wrong;
    } else {
        remove();  // a code signs in once
    }
    transaction.commit();
    return result;
}

User Store::signInUser(const std::string& emailKey, const std::string& email,
                       const std::string& now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    auto& select = m_database->statement("SELECT id, email, name FROM users WHERE email_key = ?");
    select.bind(1, emailKey);
    if (select.step()) {
        User user{select.text(0), select.text(1), select.text(2)};
        select.reset();
        transaction.commit();
        return user;
    }
    select.reset();
    User user{Random::uuid(), email, displayName(email)};
    m_database
        ->statement("INSERT INTO users (id, email_key, email, name, created_at) "
                    "VALUES (?, ?, ?, ?, ?)")
        .bind(1, user.id)
        .bind(2, emailKey)
        .bind(3, user.email)
        .bind(4, user.name)
        .bind(5, now)
        .run();
    transaction.commit();
    return user;
}

void Store::saveToken(const std::string& token, const std::string& userId, const std::string& now)
{
    std::lock_guard lock(m_mutex);
    m_database->statement("INSERT INTO tokens (digest, user_id, created_at) VALUES (?, ?, ?)")
        .bind(1, tokenDigest(token))
        .bind(2, userId)
        .bind(3, now)
        .run();
}

std::optional<User> Store::userForToken(const std::string& token)
{
    std::lock_guard lock(m_mutex);
    auto& select = m_database->statement("SELECT u.id, u.email, u.name FROM tokens t "
                                         "JOIN users u ON u.id = t.user_id WHERE t.digest = ?");
    select.bind(1, tokenDigest(token));
    if (!select.step()) {
        return std::nullopt;
    }
    User user{select.text(0), select.text(1), select.text(2)};
    select.reset();
    return user;
}

std::vector<FolderRecord> Store::folders(const std::string& userId,
                                         const std::optional<std::string>& parentId)
{
    std::lock_guard lock(m_mutex);
    const std::string sql = std::string("SELECT ") + kFolderColumns +
                            " FROM folders WHERE owner_id = ? AND " +
                            (parentId ? "parent_id = ?" : "parent_id IS NULL") + " ORDER BY seq";
    auto& select = m_database->statement(sql);
    select.bind(1, userId);
    if (parentId) {
        select.bind(2, *parentId);
    }
    std::vector<FolderRecord> result;
    while (select.step()) {
        result.push_back(readFolder(select));
    }
    return result;
}

std::optional<FolderRecord> Store::folder(const std::string& userId, const std::string& folderId)
{
    std::lock_guard lock(m_mutex);
    auto& select = m_database->statement(std::string("SELECT ") + kFolderColumns +
                                         " FROM folders WHERE owner_id = ? AND id = ?");
    select.bind(1, userId).bind(2, folderId);
    if (!select.step()) {
        return std::nullopt;
    }
    auto record = readFolder(select);
    select.reset();
    return record;
}

std::pair<CreateFolderOutcome, std::optional<FolderRecord>>
Store::createFolder(const std::string& userId, const std::optional<std::string>& parentId,
                    const std::string& name, const std::string& now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    std::string parentPath;
    if (parentId) {
        auto& parent =
            m_database->statement("SELECT path FROM folders WHERE owner_id = ? AND id = ?");
        parent.bind(1, userId).bind(2, *parentId);
        if (!parent.step()) {
            return {CreateFolderOutcome::parentMissing, std::nullopt};
        }
        parentPath = parent.text(0);
        parent.reset();
    }
    auto& existing = m_database->statement(
        "SELECT 1 FROM folders WHERE owner_id = ? AND IFNULL(parent_id, '') = ? AND name = ?");
    existing.bind(1, userId).bind(2, parentId.value_or("")).bind(3, name);
    if (existing.step()) {
        existing.reset();
        return {CreateFolderOutcome::duplicate, std::nullopt};
    }
    const FolderRecord record{Random::uuid(),          userId, parentId, name,
                              parentPath + "/" + name, now,    now};
    m_database
        ->statement("INSERT INTO folders (id, owner_id, parent_id, name, path, created_at, "
                    "updated_at) VALUES (?, ?, ?, ?, ?, ?, ?)")
        .bind(1, record.id)
        .bind(2, record.ownerId)
        .bind(3, record.parentId)
        .bind(4, record.name)
        .bind(5, record.path)
        .bind(6, record.createdAt)
        .bind(7, record.updatedAt)
        .run();
    transaction.commit();
    return {CreateFolderOutcome::created, record};
}

std::vector<FileRecord> Store::files(const std::string& folderId)
{
    std::lock_guard lock(m_mutex);
    auto& select = m_database->statement(std::string("SELECT ") + kFileColumns +
                                         " FROM files WHERE folder_id = ? ORDER BY seq");
    select.bind(1, folderId);
    std::vector<FileRecord> result;
    while (select.step()) {
        result.push_back(readFile(select));
    }
    return result;
}

bool Store::ownsBlob(const std::string& userId, const std::string& hash)
{
    std::lock_guard lock(m_mutex);
    auto& select =
        m_database->statement("SELECT 1 FROM blob_owners WHERE user_id = ? AND hash = ?");
    select.bind(1, userId).bind(2, hash);
    const bool owned = select.step();
    select.reset();
    return owned;
}

std::optional<StoredUpload> Store::recordKnownContent(const PendingUpload& upload,
                                                      const std::string& now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    auto& select =
        m_database->statement("SELECT 1 FROM blob_owners o JOIN blobs b ON b.hash = "
                              "o.hash WHERE o.user_id = ? AND o.hash = ? AND b.size = ?");
    select.bind(1, upload.userId).bind(2, upload.hash).bind(3, upload.size);
    if (!select.step()) {
        return std::nullopt;
    }
    select.reset();
    auto change = upsertFile(upload, now);
    transaction.commit();
    return change;
}

void Store::addPendingUpload(const PendingUpload& upload, const std::string& now,
                             std::int64_t keepPerAccount)
{
    std::lock_guard lock(m_mutex);
    // A pending upload lost in a power cut only makes its client start the upload again.
    const UnsyncedCommits unsynced(*m_database);
    m_database
        ->statement("INSERT INTO pending_uploads (id, user_id, folder_id, relative_path, hash, "
                    "size, base_version, created_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, upload.id)
        .bind(2, upload.userId)
        .bind(3, upload.folderId)
        .bind(4, upload.relativePath)
        .bind(5, upload.hash)
        .bind(6, upload.size)
        .bind(7, upload.baseVersion)
        .bind(8, now)
        .run();
    // The account's oldest go first (rowids grow in insertion order).
    m_database
        ->statement("DELETE FROM pending_uploads WHERE user_id = ? AND rowid <= (SELECT rowid "
                    "FROM pending_uploads WHERE user_id = ? ORDER BY rowid DESC LIMIT 1 OFFSET ?)")
        .bind(1, upload.userId)
        .bind(2, upload.userId)
        .bind(3, keepPerAccount)
        .run();
}

std::int64_t Store::expirePendingUploads(const std::string& createdBefore)
{
    std::lock_guard lock(m_mutex);
    m_database->statement("DELETE FROM pending_uploads WHERE created_at < ?")
        .bind(1, createdBefore)
        .run();
    return changedRows();
}

std::int64_t Store::changedRows()
{
    auto& changes = m_database->statement("SELECT changes()");
    const std::int64_t count = changes.step() ? changes.integer(0) : 0;
    changes.reset();
    return count;
}

std::optional<PendingUpload> Store::pendingUpload(const std::string& userId,
                                                  const std::string& uploadId,
                                                  const std::string& createdSince)
{
    std::lock_guard lock(m_mutex);
    auto& select = m_database->statement(
        "SELECT id, user_id, folder_id, relative_path, hash, size, base_version FROM "
        "pending_uploads WHERE user_id = ? AND id = ? AND created_at >= ?");
    select.bind(1, userId).bind(2, uploadId).bind(3, createdSince);
    if (!select.step()) {
        return std::nullopt;
    }
    PendingUpload upload{select.text(0), select.text(1),    select.text(2),   select.text(3),
                         select.text(4), select.integer(5), select.integer(6)};
    select.reset();
    return upload;
}

std::optional<StoredUpload> Store::completeUpload(const PendingUpload& upload,
                                                  const std::string& now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    auto& remove =
        m_database->statement("DELETE FROM pending_uploads WHERE id = ? AND user_id = ?");
    remove.bind(1, upload.id).bind(2, upload.userId).run();
    if (changedRows() == 0) {
        return std::nullopt;  // completed, expired or pushed out meanwhile
    }
    m_database->statement("INSERT OR IGNORE INTO blobs (hash, size) VALUES (?, ?)")
        .bind(1, upload.hash)
        .bind(2, upload.size)
        .run();
    m_database->statement("INSERT OR IGNORE INTO blob_owners (user_id, hash) VALUES (?, ?)")
        .bind(1, upload.userId)
        .bind(2, upload.hash)
        .run();
    auto change = upsertFile(upload, now);
    transaction.commit();
    return change;
}

std::optional<FileChange> Store::deleteFile(const std::string& userId, const std::string& folderId,
                                            const std::string& relativePath, const std::string& now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*m_database);
    auto file = findFile(folderId, relativePath);
    if (!file || file->ownerId != userId) {
        return std::nullopt;
    }
    m_database->statement("DELETE FROM files WHERE id = ?").bind(1, file->id).run();
    EventRecord event;
    event.userId = userId;
    event.fileId = file->id;
    event.folderId = folderId;
    event.action = "delete";
    event.relativePath = relativePath;
    event.timestamp = now;
    event = addEvent(std::move(event));
    transaction.commit();
    return FileChange{*file, event};
}

std::int64_t
Store::collectUnreferencedBlobs(std::int64_t batch,
                                const std::function<void(const std::string&)>& removeBlob)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> hashes;
    {
        Transaction transaction(*m_database);
        auto& select = m_database->statement(
            "SELECT hash FROM blobs b WHERE NOT EXISTS (SELECT 1 FROM files f WHERE f.hash = "
            "b.hash) AND NOT EXISTS (SELECT 1 FROM pending_uploads p WHERE p.hash = b.hash) "
            "LIMIT ?");
        select.bind(1, batch);
        while (select.step()) {
            hashes.push_back(select.text(0));
        }
        for (const auto& hash : hashes) {
            m_database->statement("DELETE FROM blob_owners WHERE hash = ?").bind(1, hash).run();
            m_database->statement("DELETE FROM blobs WHERE hash = ?").bind(1, hash).run();
        }
        transaction.commit();
    }
    // After the commit: a blob file without rows is only an orphan that the next sweep finds,
    // while rows without their file would be a loss.
    for (const auto& hash : hashes) {
        removeBlob(hash);
    }
    return static_cast<std::int64_t>(hashes.size());
}

bool Store::removeIfUnrecorded(const std::string& hash,
                               const std::function<void(const std::string&)>& removeBlob)
{
    std::lock_guard lock(m_mutex);
    auto& select = m_database->statement(
        "SELECT EXISTS (SELECT 1 FROM blobs WHERE hash = ?1) OR EXISTS (SELECT 1 FROM "
        "pending_uploads WHERE hash = ?1)");
    select.bind(1, hash);
    const bool known = select.step() && select.integer(0) != 0;
    select.reset();
    if (known) {
        return false;
    }
    removeBlob(hash);
    return true;
}

std::vector<EventRecord> Store::events(const std::string& userId, std::int64_t sinceId,
                                       const std::vector<std::string>& folderIds)
{
    std::lock_guard lock(m_mutex);
    auto& select = m_database->statement(
        "SELECT id, user_id, file_id, folder_id, action, relative_path, hash, size, version, "
        "timestamp FROM events WHERE user_id = ? AND id > ? ORDER BY id");
    select.bind(1, userId).bind(2, sinceId);
    std::vector<EventRecord> result;
    while (select.step()) {
        EventRecord event{select.integer(0), select.text(1), select.text(2),         select.text(3),
                          select.text(4),    select.text(5), select.optionalText(6), std::nullopt,
                          std::nullopt,      select.text(9)};
        if (!select.isNull(7)) {
            event.size = select.integer(7);
        }
        if (!select.isNull(8)) {
            event.version = select.integer(8);
        }
        const bool wanted = folderIds.empty() || std::find(folderIds.begin(), folderIds.end(),
                                                           event.folderId) != folderIds.end();
        if (wanted) {
            result.push_back(std::move(event));
        }
    }
    return result;
}

std::optional<FileRecord> Store::findFile(const std::string& folderId,
                                          const std::string& relativePath)
{
    auto& select = m_database->statement(std::string("SELECT ") + kFileColumns +
                                         " FROM files WHERE folder_id = ? AND relative_path = ?");
    select.bind(1, folderId).bind(2, relativePath);
    if (!select.step()) {
        return std::nullopt;
    }
    auto file = readFile(select);
    select.reset();
    return file;
}

StoredUpload Store::upsertFile(const PendingUpload& upload, const std::string& now)
{
    auto file = findFile(upload.folderId, upload.relativePath);
    const bool isNew = !file;
    // The sender did not know the content it replaces (another device changed the file since
    // the sender's base): keep that content rather than lose it without a trace.
    std::optional<FileChange> keptCopy;
    if (file && upload.baseVersion != file->version && upload.hash != file->hash) {
        keptCopy = keepConflictCopy(*file, now);
    }
    if (isNew) {
        file = FileRecord{Random::uuid(),
                          upload.folderId,
                          upload.userId,
                          upload.relativePath,
                          lastComponent(upload.relativePath),
                          upload.hash,
                          upload.size,
                          firstVersion(upload.folderId, upload.relativePath),
                          now,
                          now};
        insertFile(*file, upload.baseVersion);
    } else {
        file->hash = upload.hash;
        file->size = upload.size;
        file->version += 1;
        file->updatedAt = now;
        m_database
            ->statement("UPDATE files SET hash = ?, size = ?, version = ?, base_version = ?, "
                        "updated_at = ? WHERE id = ?")
            .bind(1, file->hash)
            .bind(2, file->size)
            .bind(3, file->version)
            .bind(4, upload.baseVersion)
            .bind(5, file->updatedAt)
            .bind(6, file->id)
            .run();
    }
    return StoredUpload{recordChange(*file, isNew ? "create" : "update", now), std::move(keptCopy)};
}

std::int64_t Store::firstVersion(const std::string& folderId, const std::string& relativePath)
{
    // Versions go on counting across a deletion: a device whose base is a version of the
    // deleted file must not take a new file of the same path for the one it knew.
    auto& select = m_database->statement(
        "SELECT MAX(version) FROM events WHERE folder_id = ? AND relative_path = ?");
    select.bind(1, folderId).bind(2, relativePath);
    const std::int64_t last = select.step() && !select.isNull(0) ? select.integer(0) : 0;
    select.reset();
    return last + 1;
}

FileChange Store::keepConflictCopy(const FileRecord& file, const std::string& now)
{
    const auto slash = file.relativePath.rfind('/');
    const std::string folderPart =
        slash == std::string::npos ? std::string() : file.relativePath.substr(0, slash + 1);
    FileRecord copy = file;
    for (int counter = 1;; ++counter) {
        copy.name = conflictCopyName(file.name, now, counter);
        copy.relativePath = folderPart + copy.name;
        if (!findFile(file.folderId, copy.relativePath)) {
            break;
        }
    }
    copy.id = Random::uuid();
    copy.version = firstVersion(copy.folderId, copy.relativePath);
    copy.createdAt = now;
    copy.updatedAt = now;
    insertFile(copy, 0);
    return recordChange(copy, "create", now);
}

void Store::insertFile(const FileRecord& file, std::int64_t baseVersion)
{
    m_database
        ->statement("INSERT INTO files (id, folder_id, owner_id, relative_path, name, hash, "
                    "size, version, base_version, created_at, updated_at) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, file.id)
        .bind(2, file.folderId)
        .bind(3, file.ownerId)
        .bind(4, file.relativePath)
        .bind(5, file.name)
        .bind(6, file.hash)
        .bind(7, file.size)
        .bind(8, file.version)
        .bind(9, baseVersion)
        .bind(10, file.createdAt)
        .bind(11, file.updatedAt)
        .run();
}

FileChange Store::recordChange(const FileRecord& file, const std::string& action,
                               const std::string& now)
{
    EventRecord event;
    event.userId = file.ownerId;
    event.fileId = file.id;
    event.folderId = file.folderId;
    event.action = action;
    event.relativePath = file.relativePath;
    event.hash = file.hash;
    event.size = file.size;
    event.version = file.version;
    event.timestamp = now;
    return FileChange{file, addEvent(std::move(event))};
}

EventRecord Store::addEvent(EventRecord event)
{
    auto& insert = m_database->statement(
        "INSERT INTO events (user_id, file_id, folder_id, action, relative_path, hash, size, "
        "version, timestamp) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(1, event.userId)
        .bind(2, event.fileId)
        .bind(3, event.folderId)
        .bind(4, event.action)
        .bind(5, event.relativePath)
        .bind(6, event.hash);
    event.size ? insert.bind(7, *event.size) : insert.bindNull(7);
    event.version ? insert.bind(8, *event.version) : insert.bindNull(8);
    insert.bind(9, event.timestamp).run();
    auto& lastId = m_database->statement("SELECT last_insert_rowid()");
    lastId.step();
    event.id = lastId.integer(0);
    lastId.reset();
    return event;
}

}  // namespace corvane::server
