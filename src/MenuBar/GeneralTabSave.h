#pragma once

#include <optional>

#include <QString>

namespace corvane {

class AppState;

// What the General tab's "Save" stores: the address exactly as typed, the folder made absolute,
// and whether the address changed so that the user must sign in again.
struct GeneralTabSave {
    QString serverURL;
    QString syncDir;
    // A changed, non-empty address: stored through a new setup, which signs the user out.
    bool signsOut = false;

    bool operator==(const GeneralTabSave&) const = default;

    // `typed` as an absolute folder path, with a leading "~/" standing for `home`; nothing for
    // an empty or relative path, which would make the engine sync the working folder.
    static std::optional<QString> absoluteFolder(const QString& typed, const QString& home);

    // What a press of "Save" with the two fields stores, given the address in force; nothing
    // when the folder is not absolute, in which case nothing at all is stored. The address
    // counts as changed on any difference of its text (letter case and a trailing "/" too).
    static std::optional<GeneralTabSave> plan(const QString& typedServerURL,
                                              const QString& typedSyncDir,
                                              const QString& currentServerURL, const QString& home);

    // Stores it. With a changed address the new setup runs while the folder in force is still
    // the previous one, so that both folders' sync state files go: the previous folder's
    // describes the previous server's files. Otherwise the address, the folder, the "syncDir"
    // setting and the file manager's sync folder are written again, changed or not; a running
    // engine keeps its folder until sync next starts. Main thread only.
    void apply(AppState& state) const;
};

}  // namespace corvane
