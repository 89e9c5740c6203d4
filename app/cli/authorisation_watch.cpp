#include "app/cli/authorisation_watch.h"

EjectOutcome AuthorisationWatch::unmountAndEject(const std::string& mountPath) {
  EjectOutcome outcome = ejector_->unmountAndEject(mountPath);
  // udisks2's NotAuthorized and NotAuthorizedCanObtain; a dismissed dialog was an answer.
  if (!outcome.success && outcome.errorText.find("Error.NotAuthorized") != std::string::npos &&
      outcome.errorText.find("NotAuthorizedDismissed") == std::string::npos) {
    refused_ = true;
  }
  return outcome;
}
