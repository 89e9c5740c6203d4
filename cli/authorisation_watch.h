#pragma once

#include <atomic>

#include "platform/ejector.h"

// Passes ejections on and notes whether polkit refused one for want of authorisation, which
// the command line explains when no authentication agent could ask for a password.
class AuthorisationWatch : public Ejector {
 public:
  explicit AuthorisationWatch(Ejector& ejector) : ejector_(&ejector) {}

  void setEjector(Ejector& ejector) { ejector_ = &ejector; }
  EjectOutcome eject(const EjectTarget& target) override;
  bool sawRefusal() const { return refused_; }

 private:
  Ejector* ejector_;
  std::atomic<bool> refused_{false};
};
