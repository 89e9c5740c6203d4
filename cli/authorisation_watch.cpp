#include "cli/authorisation_watch.h"

EjectOutcome AuthorisationWatch::eject(const EjectTarget& target) {
  EjectOutcome outcome = ejector_->eject(target);
  // A dismissed password dialog was an answer; only a refusal nobody could ask about counts.
  if (!outcome.success && outcome.failure == EjectFailure::notAuthorised) {
    refused_ = true;
  }
  return outcome;
}
