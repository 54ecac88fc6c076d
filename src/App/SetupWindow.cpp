#include "App/SetupWindow.h"

#include <QVBoxLayout>

#include "App/AppState.h"
#include "App/ReadyView.h"
#include "App/SetupView.h"

namespace corvane {

SetupWindow::SetupWindow(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("setup"));
    setWindowTitle(tr("Corvane"));
    setAccessibleName(tr("Corvane"));
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    // The window is as large as its content asks, no more and no less, also when the content
    // grows (an error line, the code field).
    m_layout->setSizeConstraint(QLayout::SetFixedSize);

    m_page = pageFor(state.phase());
    followPhase();
    connect(&state, &AppState::phaseChanged, this, [this] {
        if (pageFor(m_state.phase()) != m_page || !m_content) {
            m_page = pageFor(m_state.phase());
            followPhase();
        }
    });
}

SetupWindow::Page SetupWindow::pageFor(AppPhase phase)
{
    return phase == AppPhase::ready ? Page::ready : Page::setupForm;
}

void SetupWindow::followPhase()
{
    if (m_content) {
        m_layout->removeWidget(m_content);
        m_content->hide();
        // Later, from the event loop: the old page may be inside one of its own handlers (the
        // sign-in that moved the phase on).
        m_content->deleteLater();
    }
    if (m_page == Page::ready) {
        m_content = new ReadyView(m_state, this);
    } else {
        m_content = new SetupView(m_state, this);
    }
    m_layout->addWidget(m_content);
    m_content->show();
}

}  // namespace corvane
