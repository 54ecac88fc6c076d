#pragma once

#include <QPointer>
#include <QWidget>

#include "App/AppPhase.h"

class QVBoxLayout;

namespace corvane {

class AppState;

// The one window titled "Corvane" (object name "setup"): the setup form in the phases setup and
// login, the ready screen in phase ready, always at its content's fixed size. The form stays
// the same, with what the user typed, from setup to login; a way back from ready (a sign-out)
// brings a fresh form. Closing the window only hides it. Main thread only.
class SetupWindow final : public QWidget {
    Q_OBJECT

public:
    explicit SetupWindow(AppState& state, QWidget* parent = nullptr);

    // The content on show: a SetupView or a ReadyView.
    QWidget* content() const { return m_content; }

private:
    enum class Page { setupForm, ready };
    static Page pageFor(AppPhase phase);

    void followPhase();

    AppState& m_state;
    QVBoxLayout* m_layout;
    QPointer<QWidget> m_content;
    Page m_page = Page::setupForm;
};

}  // namespace corvane
