#include "app/volume_model.h"

#include <algorithm>

#include <QPointer>

VolumeModel::VolumeModel(EjectEngine& engine, QObject* parent) : QObject(parent), engine_(engine) {}

void VolumeModel::followEngine() {
  QPointer<VolumeModel> self(this);
  engine_.setOnChange([self]() {
    if (self) {
      emit self->changed();
    }
  });
}

VolumeModel::~VolumeModel() {
  engine_.setOnChange(nullptr);
}

QString VolumeModel::summary() const {
  return QString::fromStdString(EjectEngine::resume(volumes()));
}

std::optional<EjectableVolume> VolumeModel::find(const std::string& id) const {
  // One read: each read may take a newer list.
  const std::vector<EjectableVolume>& listed = volumes();
  const auto found = std::find_if(listed.begin(), listed.end(),
                                  [&](const EjectableVolume& volume) { return volume.id == id; });
  if (found == listed.end()) {
    return std::nullopt;
  }
  return *found;
}

void VolumeModel::announce() {
  emit changed();
}
