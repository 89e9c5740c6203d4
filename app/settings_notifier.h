#pragma once

#include <QObject>
#include <QString>

#include "core/settings.h"

// The settings' change notification as a Qt signal: changed() is emitted on this object's
// thread, at once for a change made there, through the event loop for one made elsewhere.
class SettingsNotifier : public QObject {
  Q_OBJECT

 public:
  explicit SettingsNotifier(Settings& settings, QObject* parent = nullptr);
  ~SettingsNotifier() override;

 signals:
  void changed(const QString& key);

 private:
  Settings::Subscription subscription_;
};
