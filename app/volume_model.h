#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "core/eject_engine.h"

// The engine's volume list as the shell shows it: the home page's list and summary and the tray
// icon and menu all read this one object and redraw on changed().
class VolumeModel : public QObject {
  Q_OBJECT

 public:
  explicit VolumeModel(EjectEngine& engine, QObject* parent = nullptr);
  ~VolumeModel() override;

  const std::vector<EjectableVolume>& volumes() const { return engine_.volumes(); }
  bool isEmpty() const { return volumes().empty(); }
  QString summary() const;
  // Whether a view shows each volume's size and backup marks; see EjectEngine::setDetailsShown.
  void setDetailsShown(bool shown) { engine_.setDetailsShown(shown); }
  // The volume with that identifier, if it is still mounted.
  std::optional<EjectableVolume> find(const std::string& id) const;

 public slots:
  // From now on the engine's own change notifications reach changed().
  void followEngine();
  // Tells every view to read the list again (the engine's own change callback also does).
  void announce();

 signals:
  void changed();

 private:
  EjectEngine& engine_;
};
