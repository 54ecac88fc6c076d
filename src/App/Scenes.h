#pragma once

namespace corvane {

// What the views ask of the application's scenes: the tray icon's panel, the one "setup"
// window and the one settings window. The application implements it; view tests record the
// calls. Main thread only.
class Scenes {
public:
    virtual ~Scenes() = default;

    // Shows, raises and activates the "setup" window (setup, sign-in or the ready screen).
    virtual void showSetupWindow() = 0;
    // Shows, raises and activates the settings window, made once and reused.
    virtual void showSettingsWindow() = 0;
    // Closes the tray icon's panel, if it is open.
    virtual void closePanel() = 0;
    // Ends the event loop; the caller has stopped sync first.
    virtual void quit() = 0;
};

}  // namespace corvane
