#include "app/qt_display_environment.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(VARNELO_HAVE_XCB)
#include <xcb/xcb.h>
#endif

#include <QApplication>
#include <QGuiApplication>
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

#if defined(VARNELO_HAVE_XCB)
namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

} // namespace
#endif

void QtDisplayEnvironment::keepOutOfTaskbar(QWidget* window, bool keepOut) {
#if defined(VARNELO_HAVE_XCB)
  // Qt::Tool makes the window a utility window, which not every taskbar leaves out; the
  // window manager reads these states when the window is mapped, and Qt keeps states it
  // does not manage itself.
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (window == nullptr || x11 == nullptr || window->isVisible()) {
    return;
  }
  // Other platforms (offscreen, for one) may still answer as X11 but have no connection.
  xcb_connection_t* connection = x11->connection();
  if (connection == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) {
    return;
  }
  const auto handle = static_cast<xcb_window_t>(window->winId());
  const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
  const xcb_atom_t skipped[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};

  std::vector<xcb_atom_t> atoms;
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, handle, state, XCB_ATOM_ATOM, 0, 1024);
  if (xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr)) {
    if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
      const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
      atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
  }
  for (const xcb_atom_t atom : skipped) {
    std::erase(atoms, atom);
    if (keepOut) {
      atoms.push_back(atom);
    }
  }
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, handle, state, XCB_ATOM_ATOM, 32,
                      static_cast<std::uint32_t>(atoms.size()), atoms.data());
  xcb_flush(connection);
#else
  (void)window;
  (void)keepOut;
#endif
}
