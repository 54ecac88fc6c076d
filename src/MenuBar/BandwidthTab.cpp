#include "MenuBar/BandwidthTab.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "MenuBar/SettingsViewStyle.h"
#include "Platform/MainQueue.h"
#include "Sync/BandwidthThrottler.h"

namespace corvane {
namespace {

std::int64_t presetLimit(int index)
{
    return BandwidthThrottler::presets().at(static_cast<std::size_t>(index)).bytesPerSecond;
}

}  // namespace

BandwidthTab::BandwidthTab(AppState& appState, QWidget* parent)
    : QWidget(parent), m_appState(appState)
{
    MainQueue::assertMainThread("BandwidthTab");
    setObjectName(QStringLiteral("bandwidthTab"));
    auto* layout = new QVBoxLayout(this);
    setTabPadding(layout);
    layout->addWidget(
        makeSection(tr("Upload"), tr("Maximum upload rate"), QStringLiteral("upload"), m_upload));
    layout->addWidget(makeSection(tr("Download"), tr("Maximum download rate"),
                                  QStringLiteral("download"), m_download));
    layout->addWidget(makeSecondaryLabel(
        tr("Bandwidth limits control how much network capacity Corvane uses. Set to "
           "\"Unlimited\" for fastest sync."),
        SettingsTextStyle::caption, QStringLiteral("bandwidthHint"), this));
    layout->addStretch();

    const auto& throttler = m_appState.bandwidthThrottler();
    connect(m_upload, &QComboBox::activated, this,
            [throttler](int index) { throttler->setUploadLimit(presetLimit(index)); });
    connect(m_download, &QComboBox::activated, this,
            [throttler](int index) { throttler->setDownloadLimit(presetLimit(index)); });
}

int BandwidthTab::presetIndex(std::int64_t limit)
{
    const auto& presets = BandwidthThrottler::presets();
    for (std::size_t index = 0; index < presets.size(); ++index) {
        if (presets[index].bytesPerSecond == limit) {
            return static_cast<int>(index);
        }
    }
    return 0;
}

QWidget* BandwidthTab::makeSection(const QString& title, const QString& pickerLabel,
                                   const QString& objectName, QComboBox*& picker)
{
    auto* section = makeSettingsSection(title, objectName + QStringLiteral("Section"), this);
    auto* row = new QHBoxLayout(section);
    picker = new QComboBox(section);
    picker->setObjectName(objectName + QStringLiteral("LimitPicker"));
    picker->setAccessibleName(pickerLabel);
    for (const auto& preset : BandwidthThrottler::presets()) {
        // The preset's own label, not a text to translate.
        picker->addItem(
            QString::fromUtf8(preset.label.data(), static_cast<int>(preset.label.size())));
    }
    auto* label = new QLabel(pickerLabel, section);
    label->setObjectName(objectName + QStringLiteral("LimitLabel"));
    label->setBuddy(picker);
    // The label at the leading edge, the picker at the trailing one.
    row->addWidget(label);
    row->addStretch();
    row->addWidget(picker);
    return section;
}

void BandwidthTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        fillFromThrottler();
    }
}

void BandwidthTab::fillFromThrottler()
{
    const auto& throttler = m_appState.bandwidthThrottler();
    m_upload->setCurrentIndex(presetIndex(throttler->uploadLimit()));
    m_download->setCurrentIndex(presetIndex(throttler->downloadLimit()));
}

}  // namespace corvane
