#include "app/qt_display_environment.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>

bool QtDisplayEnvironment::systemTrayAvailable() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtDisplayEnvironment::activateApplication(QWidget* window) {
  QWidget* target = QApplication::activeModalWidget();
  if (target == nullptr && window != nullptr && window->isVisible()) {
    target = window;
  }
  if (target == nullptr) {
    return;
  }
  if (target->isMinimized()) {
    target->showNormal();
  }
  target->raise();
  target->activateWindow();
  // Window managers that ignore a plain focus request still honour an activation request.
  if (QWindow* handle = target->windowHandle()) {
    handle->requestActivate();
  }
}
