#pragma once

#include <set>
#include <string>

#include <QObject>

#include "app/alert_presenter.h"
#include "core/eject_engine.h"

class Settings;
class VolumeModel;

// The eject rules: what eject-all leaves out, the question before a backup volume goes, the
// failure alerts. One batch at a time: while it runs, every entry point (button, tray click,
// menus, rows) is refused rather than starting a second one.
class EjectController : public QObject {
  Q_OBJECT

 public:
  EjectController(EjectEngine& engine, VolumeModel& model, AlertPresenter& alerts,
                  const Settings& settings, QObject* parent = nullptr);

  bool isBusy() const { return batchRunning_; }
  // A batch or any single volume is on its way out (it may wait long on a password prompt).
  bool isEjecting() const { return batchRunning_ || !ejecting_.empty(); }

 public slots:
  void ejectAll();
  // One volume, from a row or the tray menu: a backup volume is asked about first.
  void ejectVolume(const EjectableVolume& volume);

 signals:
  void busyChanged(bool busy);
  void ejectingChanged(bool ejecting);
  // A batch ended with every volume ejected.
  void allEjected();
  // One volume is gone and safe to unplug; partial: its drive stays powered or its container
  // unlocked, which the user has already been told about.
  void volumeEjected(const EjectableVolume& volume, bool partial);

 private:
  // The volume's backup marks known: asks about a backup, then ejects.
  void ejectLookedAt(const EjectableVolume& volume);
  bool confirmBackupEject(const EjectableVolume& volume);
  // True when the result is a failure the user has to hear about.
  bool report(const EjectEngine::EjectResult& result);
  void setBusy(bool busy);
  void announceEjecting();

  EjectEngine& engine_;
  VolumeModel& model_;
  AlertPresenter& alerts_;
  const Settings& settings_;
  bool batchRunning_ = false;
  // Eject-all waits for the volumes nobody has looked inside yet.
  bool lookingInside_ = false;
  std::set<std::string> ejecting_;
  bool ejectingAnnounced_ = false;
};
