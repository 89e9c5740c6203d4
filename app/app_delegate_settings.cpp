#include <QLabel>
#include <QToolButton>

#include "app/app_delegate.h"
#include "core/localization.h"
#include "views/flipped_view.h"
#include "views/palette.h"
#include "views/symbols.h"

// The settings view; for now only its way back and its title.
QWidget* AppDelegate::buildSettingsView() {
  auto* root = new FlippedView();
  root->setFixedSize(winSize);

  auto* back = new QToolButton(root);
  back->setAutoRaise(true);
  back->setFocusPolicy(Qt::NoFocus);
  back->setGeometry(18, 46, 28, 28);
  back->setIcon(QIcon(
      Symbols::pixmap(QStringLiteral("chevron.left"), 15, QFont::DemiBold, secondaryLabelColor())));
  back->setToolTip(QString::fromStdString(L("accessibility.back")));
  back->setAccessibleName(back->toolTip());
  connect(back, &QToolButton::clicked, this, &AppDelegate::showMain);

  QLabel* title =
      makeLabel(QString::fromStdString(L("settings.title")), 20, QFont::Bold, labelColor(), root);
  title->adjustSize();
  title->move(54, 60 - title->height() / 2);
  return root;
}
