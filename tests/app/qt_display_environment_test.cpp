#include "app/qt_display_environment.h"

#include <gtest/gtest.h>

#include <QWidget>

// Offscreen answers as X11 with no X connection: desktop calls must then do nothing.
TEST(QtDisplayEnvironment, WithoutAnXServerEveryCallIsHarmless) {
  QtDisplayEnvironment environment;
  QWidget window;
  environment.keepOutOfTaskbar(&window, true);
  environment.keepOutOfTaskbar(&window, false);
  environment.keepOutOfTaskbar(nullptr, true);
  EXPECT_FALSE(environment.systemTrayAvailable());
  window.show();
  environment.activateApplication(&window);
  environment.activateApplication(nullptr);
  EXPECT_TRUE(window.isVisible());
}
