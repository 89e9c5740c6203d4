#include "app/settings_notifier.h"

#include <QThread>

SettingsNotifier::SettingsNotifier(Settings& settings, QObject* parent) : QObject(parent) {
  subscription_ = settings.subscribe([this](const std::string& key) {
    const QString name = QString::fromStdString(key);
    if (QThread::currentThread() == thread()) {
      emit changed(name);
    } else {
      // Dropped with this object if it goes before the event loop gets to it.
      QMetaObject::invokeMethod(
          this, [this, name]() { emit changed(name); }, Qt::QueuedConnection);
    }
  });
}

SettingsNotifier::~SettingsNotifier() {
  // Before the signal goes: no observer call may still be reaching it.
  subscription_.reset();
}
