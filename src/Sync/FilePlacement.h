#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Sync/LocalStateStore.h"
#include "Sync/SyncPaths.h"

namespace corvane {

class FilePlacement;

// A hidden file of the engine's in the sync folder, removed when it goes unless it was renamed
// into place or released: a download in progress, or a user's file moved aside. Its folder is
// held open and the file is named through it, so that the file is still found, and removed, when
// the user moves the folder meanwhile. Made and placed by FilePlacement only.
class HiddenFile {
    struct NoFileYet {};

public:
    // A new empty file for a download in `folder`.
    explicit HiddenFile(const std::filesystem::path& folder);
    // No file yet, in the open folder `folder`, which it closes.
    HiddenFile(int folder, NoFileYet);
    ~HiddenFile();
    HiddenFile(const HiddenFile&) = delete;
    HiddenFile& operator=(const HiddenFile&) = delete;

    // Where to write it; empty once it has been renamed into place.
    const std::filesystem::path& path() const { return m_path; }
    bool holdsFile() const { return !m_released && !m_path.empty(); }

private:
    friend class FilePlacement;

    // Moves the user's file `file` aside, under a name the next start puts it back from. Nothing
    // when there is no file at `file`.
    static std::unique_ptr<HiddenFile> moveAside(const std::filesystem::path& file);
    // Takes on the moved-aside file `file` that a process left behind, released: it is the
    // user's, so it is never removed for having been taken on.
    static std::unique_ptr<HiddenFile> adopt(const std::filesystem::path& file);
    // Renames this file to a moved-aside name for the file `name` beside it: from here on it may
    // hold the user's file, which a process killed meanwhile must not lose.
    void markAside(std::string_view name);
    // Forgets the file: it was moved elsewhere and must not be removed. path() stays.
    void release() { m_released = true; }
    // The file may be the user's: it is never removed, only renamed. Until it is, it keeps its
    // moved-aside name, from which the next start puts it back.
    void keep() { m_kept = true; }
    // Swaps this file and `target` in one step: afterwards path() holds what was at `target`.
    void exchange(const std::filesystem::path& target);
    // Renames into place only when the name is free; false when it is taken.
    bool placeIfFree(const std::filesystem::path& target);
    static int openFolder(const std::filesystem::path& folder, const char* action);
    std::string folderPrefix() const;
    // Renames `from` to a fresh moved-aside name for `name` in this folder; false when there is
    // nothing at `from`.
    bool renameAside(const std::filesystem::path& from, std::string_view name);

    const int m_folder;
    std::filesystem::path m_path;
    bool m_released = false;
    bool m_kept = false;
};

// Crash-safe placement of files in the sync folder. A download goes to a hidden temporary file
// beside its target and is renamed into place in one step; a user's file that is replaced or
// removed is first moved aside under a hidden name and only then looked at, so that an edit saved
// up to that moment is never lost. A process killed in between leaves only hidden files, which
// the next start removes (temporaries) or puts back (moved-aside files). Paths are sync-relative.
//
// Thread-safe: its state is only the sync folder itself. removeStaleDownloads() and
// restoreMovedAside() only while nothing else places files (at start).
class FilePlacement {
public:
    FilePlacement(SyncPaths paths, std::shared_ptr<LocalStateStore> state);

    // Whether a sync-relative path is in use somewhere the local folder does not show.
    using NameTaken = std::function<bool(const std::string& path)>;

    // `path` as checked for a path from the server; throws when it is refused.
    std::string checkedPath(const std::string& path) const;
    // Where a conflict copy of the checked `path` goes, named after the server's `name` for the
    // file: beside it, once `name` is found fit; throws otherwise.
    std::string conflictCopyPlace(const std::string& path, const std::string& name) const;

    // A new hidden temporary file in the folder of the checked `path`, the folder made first.
    std::unique_ptr<HiddenFile> createTemporary(const std::string& path) const;
    // Puts `file` at `path` when nothing is there, or when the file there holds `expected`:
    // false otherwise, and that file stays where it is.
    bool replaceIfHolding(HiddenFile& file, const std::string& path,
                          const std::optional<std::string>& expected) const;
    // Renames `file` to a free conflict-copy name made from the last component of `path`, in its
    // folder, clear of `takenElsewhere`; returns the copy's sync-relative path.
    std::string placeConflictCopy(HiddenFile& file, const std::string& path,
                                  const NameTaken& takenElsewhere = {}) const;
    // Removes the regular file at `path` only while it holds content `hash`: a file edited up to
    // the moment of removal stays, and so does one saved under the name meanwhile. Returns
    // whether nothing of it is left (removed, or gone already).
    bool removeIfHolding(const std::string& path, const std::string& hash) const;
    // Removes the regular file at `path`, never a folder; a file already gone is no error.
    void removeFile(const std::string& path) const;

    // Removes the temporary files of downloads that never finished.
    void removeStaleDownloads() const;
    // Puts back the user's files that a killed process left moved aside: under their own names
    // when those are free, else beside them as conflict copies.
    void restoreMovedAside() const;

    // Seams for tests; production code leaves them empty. Set before the first placement.
    struct TestHooks {
        // Runs when removeIfHolding has moved the file aside, before it looks at it.
        std::function<void(const std::string& path)> afterMoveAside;
        // Runs when a download has been named as moved aside, before it is swapped in.
        std::function<void(const std::string& path)> beforeSwap;
        // Runs when a download has been swapped in over a file, before that file is looked at.
        std::function<void(const std::string& path)> betweenSwaps;
        // Runs before a conflict copy beside `path` is named; it may throw, as a rename can.
        std::function<void(const std::string& path)> beforeConflictCopy;
    };
    void setTestHooks(TestHooks hooks) { m_hooks = std::move(hooks); }

private:
    // Renames the user's file moved aside to `moved` back to `path`, or, when `path` is taken by
    // then, to a free conflict-copy name beside it. Releases `moved` first: never removes it;
    // when neither rename works, the next start puts it back.
    void keepBeside(HiddenFile& moved, const std::string& path) const;
    void restore(const std::filesystem::path& entry) const;
    std::optional<std::string> syncedHash(const std::string& path) const;
    bool holdsContent(const std::filesystem::path& file, const std::string& hash) const;

    const SyncPaths m_paths;
    const std::shared_ptr<LocalStateStore> m_state;
    TestHooks m_hooks;
};

// "<stem> (conflict - remote - <stamp>).<ext>" beside the remote file; with " 2", " 3", ...
// before the extension while `taken` says the name is in use. `stamp` is local time
// "yyyy-MM-dd HHmmss". A name that would pass 255 bytes has its stem shortened (at a UTF-8
// character boundary), so that a long name still gets its copy.
std::string conflictCopyName(std::string_view remoteName, std::string_view stamp,
                             const std::function<bool(const std::string&)>& taken);
std::string conflictTimestamp();

}  // namespace corvane
