#include "app/eject_controller.h"

#include <algorithm>
#include <vector>

#include <QPointer>

#include "app/volume_model.h"
#include "core/backup_protection.h"
#include "core/settings.h"
#include "core/localization.h"

namespace {

// The alert's text, then why, a blank line apart.
std::string withDetail(const std::string& message, const std::string& detail) {
  if (detail.empty()) {
    return message;
  }
  return message.empty() ? detail : message + "\n\n" + detail;
}

} // namespace

EjectController::EjectController(EjectEngine& engine, VolumeModel& model, AlertPresenter& alerts,
                                 const Settings& settings, QObject* parent)
    : QObject(parent), engine_(engine), model_(model), alerts_(alerts), settings_(settings) {}

void EjectController::setBusy(bool busy) {
  if (batchRunning_ != busy) {
    batchRunning_ = busy;
    emit busyChanged(busy);
  }
  announceEjecting();
}

void EjectController::announceEjecting() {
  if (ejectingAnnounced_ != isEjecting()) {
    ejectingAnnounced_ = isEjecting();
    emit ejectingChanged(ejectingAnnounced_);
  }
}

void EjectController::ejectAll() {
  // The engine ignores a second batch and never answers it: we would stay busy for good.
  if (batchRunning_ || engine_.batchRunning() || lookingInside_) {
    return;
  }
  // What to leave out depends on each volume's backup marks.
  QPointer<EjectController> self(this);
  if (engine_.lookInsideFirst([self] {
        if (self) {
          self->lookingInside_ = false;
          self->ejectAll();
        }
      })) {
    lookingInside_ = true;
    return;
  }
  const std::vector<EjectableVolume> volumes = model_.volumes();
  if (volumes.empty()) {
    return;
  }
  const bool protect = settings_.protectTimeMachine();
  const bool ejectDiskImages = settings_.ejectDiskImages();
  const bool nothingLeft = std::all_of(volumes.begin(), volumes.end(), [&](const auto& volume) {
    return isLeftOutOfEjectAll(volume, protect, ejectDiskImages);
  });
  if (nothingLeft) {
    const bool allBackups = std::all_of(volumes.begin(), volumes.end(),
                                        [](const auto& volume) { return volume.isTimeMachine; });
    alerts_.present({.style = Alert::Style::informational,
                     .title = L("eject.nothing_to_eject_title"),
                     .message = allBackups ? L("eject.only_time_machine_message")
                                           : L("eject.nothing_to_eject_message"),
                     .buttons = {L("messages.acknowledge_button")},
                     .icon = std::nullopt});
    model_.announce();
    return;
  }

  setBusy(true);
  engine_.ejectAll([self](const std::vector<EjectEngine::EjectResult>& results) {
    if (!self) {
      return;
    }
    self->setBusy(false);
    bool failed = false;
    for (const EjectEngine::EjectResult& result : results) {
      failed = self->report(result) || failed;
      if (!self) {
        return;
      }
    }
    if (!results.empty() && !failed) {
      emit self->allEjected();
    }
    self->model_.announce();
  });
}

void EjectController::ejectVolume(const EjectableVolume& volume) {
  // Whether to ask first depends on its backup marks: looked at now if nobody has yet.
  if (volume.contentsPending) {
    QPointer<EjectController> self(this);
    const auto ejectAsListed = [self, id = volume.id] {
      const auto listed = self ? self->model_.find(id) : std::nullopt;
      if (listed) {
        self->ejectLookedAt(*listed);
      }
    };
    if (!engine_.lookInsideFirst(ejectAsListed)) {
      ejectAsListed();
    }
    return;
  }
  ejectLookedAt(volume);
}

void EjectController::ejectLookedAt(const EjectableVolume& volume) {
  if (batchRunning_ || engine_.batchRunning() || ejecting_.contains(volume.id) ||
      !confirmBackupEject(volume)) {
    return;
  }
  // The question may have stayed open while a batch started or the volume went away.
  if (batchRunning_ || engine_.batchRunning() || !model_.find(volume.id)) {
    return;
  }
  ejecting_.insert(volume.id);
  announceEjecting();
  QPointer<EjectController> self(this);
  engine_.eject(volume, [self](const EjectEngine::EjectResult& result) {
    if (!self) {
      return;
    }
    self->ejecting_.erase(result.volume.id);
    self->announceEjecting();
    self->report(result);
    if (self) {
      self->model_.announce();
    }
  });
}

bool EjectController::confirmBackupEject(const EjectableVolume& volume) {
  if (!isBackupVolume(volume, settings_.protectTimeMachine())) {
    return true;
  }
  // Only a definite yes counts: a tool that cannot tell does not block the user.
  if (engine_.backupIsRunning(volume) == true) {
    alerts_.present({.style = Alert::Style::critical,
                     .title = L("eject.backup_running_title"),
                     .message = L("eject.backup_running_message", volume.name),
                     .buttons = {L("messages.acknowledge_button")},
                     .icon = std::nullopt});
    model_.announce();
    return false;
  }
  const int answer =
      alerts_.present({.style = Alert::Style::warning,
                       .title = L("eject.time_machine_confirm_title", volume.name),
                       .message = L("eject.time_machine_confirm_message"),
                       .buttons = {L("eject.time_machine_confirm_button"), L("common.cancel")},
                       .icon = std::nullopt});
  model_.announce();
  return answer == 0;
}

bool EjectController::report(const EjectEngine::EjectResult& result) {
  if (result.success && !result.partial) {
    emit volumeEjected(result.volume, false);
    return false;
  }
  // Unmounted but left powered is safe to unplug: not a failure, but the user should know
  // what was left undone.
  if (result.partial) {
    emit volumeEjected(result.volume, true);
    alerts_.present({.style = Alert::Style::informational,
                     .title = L("eject.partial_title", result.volume.name),
                     .message = withDetail(result.message.value_or(std::string()), result.detail),
                     .buttons = {},
                     .icon = std::nullopt});
    return false;
  }
  alerts_.present(
      {.style = Alert::Style::warning,
       .title = L("eject.failure_title", result.volume.name),
       .message = withDetail(result.message.value_or(L("eject.retained_message")), result.detail),
       .buttons = {},
       .icon = std::nullopt});
  return true;
}
