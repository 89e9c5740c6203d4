#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QWidget>

#include "core/ejectable_volume.h"

class BadgeImageView;
class QLabel;
class QToolButton;
class RoundEjectButton;
class Settings;
class VolumeListView;

// The main page: product icon and name, the eject-all button, the summary, the volume list and
// the messages and settings buttons in the bottom corner.
class HomePage : public QWidget {
  Q_OBJECT

 public:
  // The backup badges follow the settings' protection.
  explicit HomePage(const Settings& settings, QWidget* parent = nullptr);

 public slots:
  void setVolumes(const std::vector<EjectableVolume>& volumes, const QString& summary);
  // Nothing that would start an ejection is enabled while a batch runs, rows included.
  void setBusy(bool busy);
  // The summary and the button say an ejection is under way.
  void setEjecting(bool ejecting);
  void flashDone();
  void setMessagesState(bool ticketOpen, bool unread);

 signals:
  void ejectAllRequested();
  void ejectVolumeRequested(const EjectableVolume& volume);
  void settingsRequested();
  void messagesRequested();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  struct Shown {
    std::vector<EjectableVolume> volumes;
    QString summary;
  };

  void applyVolumes(const std::vector<EjectableVolume>& volumes, const QString& summary);
  void applyThemeColours();

  RoundEjectButton* ejectButton_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* subtitle_ = nullptr;
  QLabel* summary_ = nullptr;
  const Settings& settings_;
  VolumeListView* list_ = nullptr;
  QToolButton* messagesButton_ = nullptr;
  QToolButton* settingsButton_ = nullptr;
  BadgeImageView* messagesBadge_ = nullptr;
  // What a hidden page shows once it is shown again.
  std::optional<Shown> pending_;
  QString summaryText_;
  bool ejecting_ = false;
  // The eject-all button had the focus when the batch took it away.
  bool refocusButton_ = false;
  bool unread_ = false;
  bool changingColours_ = false;
};
