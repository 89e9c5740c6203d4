#include <algorithm>
#include <vector>

#include <QAction>
#include <QVariant>

#include "app/app_delegate.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "views/round_eject_button.h"

void AppDelegate::performEjectAll() {
  const std::vector<EjectableVolume> volumes = engine.volumes();
  if (volumes.empty()) {
    return;
  }
  const bool protectTimeMachine = EjectSettings::protectTimeMachine();
  const bool ejectDiskImages = EjectSettings::ejectDiskImages();
  const auto kept = std::count_if(volumes.begin(), volumes.end(), [&](const EjectableVolume& v) {
    return (protectTimeMachine && v.isTimeMachine) || (!ejectDiskImages && v.isDiskImage);
  });
  if (static_cast<std::size_t>(kept) == volumes.size()) {
    const bool allTimeMachine = std::all_of(
        volumes.begin(), volumes.end(), [](const EjectableVolume& v) { return v.isTimeMachine; });
    alerts_.present({Alert::Style::informational,
                     L("eject.nothing_to_eject_title"),
                     allTimeMachine ? L("eject.only_time_machine_message")
                                    : L("eject.nothing_to_eject_message"),
                     {L("messages.acknowledge_button")},
                     std::nullopt});
    refreshVolumesUI();
    return;
  }

  if (ejectButton) {
    ejectButton->setEnabled(false);
  }
  QPointer<AppDelegate> self(this);
  engine.ejectAll([self](std::vector<EjectEngine::EjectResult> results) {
    if (self && self->ejectButton) {
      self->ejectButton->setEnabled(true);
    }
    std::vector<EjectEngine::EjectResult> failures;
    std::copy_if(results.begin(), results.end(), std::back_inserter(failures),
                 [](const EjectEngine::EjectResult& result) { return !result.success; });
    if (!results.empty() && failures.empty() && self && self->ejectButton) {
      self->ejectButton->flashDone();
    }
    for (const EjectEngine::EjectResult& failure : failures) {
      if (!self) {
        return;
      }
      self->handleEjectFailure(failure);
    }
    if (self) {
      self->refreshVolumesUI();
    }
  });
}

void AppDelegate::ejectAllPressed() {
  performEjectAll();
}

void AppDelegate::ejectOnePressed(QAction* item) {
  if (item == nullptr || item->data().typeId() != QMetaType::QString) {
    return;
  }
  const std::string id = item->data().toString().toStdString();
  const std::vector<EjectableVolume>& volumes = engine.volumes();
  const auto found = std::find_if(volumes.begin(), volumes.end(),
                                  [&](const EjectableVolume& volume) { return volume.id == id; });
  // The volume went away while the menu was open.
  if (found == volumes.end()) {
    return;
  }
  QPointer<AppDelegate> self(this);
  engine.eject(*found, [self](const EjectEngine::EjectResult& result) {
    if (self) {
      self->handleEjectFailure(result);
    }
  });
}

void AppDelegate::ejectRow(const EjectableVolume& volume) {
  if (!confirmeSiTimeMachine(volume)) {
    return;
  }
  QPointer<AppDelegate> self(this);
  engine.eject(volume, [self](const EjectEngine::EjectResult& result) {
    if (self) {
      self->handleEjectFailure(result);
    }
  });
}

bool AppDelegate::confirmeSiTimeMachine(const EjectableVolume& volume) {
  if (!volume.isTimeMachine) {
    return true;
  }
  // Only a definite yes counts: a tool that cannot tell does not block the user.
  if (engine.backupIsRunning() == true) {
    alerts_.present({Alert::Style::critical,
                     L("eject.backup_running_title"),
                     L("eject.backup_running_message", volume.name),
                     {L("messages.acknowledge_button")},
                     std::nullopt});
    refreshVolumesUI();
    return false;
  }
  const int answer = alerts_.present({Alert::Style::warning,
                                      L("eject.time_machine_confirm_title", volume.name),
                                      L("eject.time_machine_confirm_message"),
                                      {L("eject.time_machine_confirm_button"), L("common.cancel")},
                                      std::nullopt});
  refreshVolumesUI();
  return answer == 0;
}

void AppDelegate::handleEjectFailure(const EjectEngine::EjectResult& result) {
  if (!result.success) {
    alerts_.present({Alert::Style::warning,
                     L("eject.failure_title", result.volume.name),
                     result.message.value_or(L("eject.retained_message")),
                     {},
                     std::nullopt});
  }
  refreshVolumesUI();
}
