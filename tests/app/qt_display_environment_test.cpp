#include "app/qt_display_environment.h"

#include <gtest/gtest.h>

#include <QWidget>

// The tests run on the offscreen platform, which answers as X11 without an X connection: the
// desktop's own calls must then do nothing rather than reach for a display.
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
