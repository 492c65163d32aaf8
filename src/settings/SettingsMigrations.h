// One-time moves of values stored by older versions, retired-key clean-up, and the fallbacks registered on
// every launch before the settings are first read.
#pragma once

#include "platform/DefaultsStore.h"

namespace velaro {

struct MigrationOutcome {
    // True when this run switched the progress bar on from the legacy switch.
    bool progressEnabledByMigration = false;
};

// Prepares the defaults store for the first load. Each move is guarded by its own condition, so running it
// again changes nothing that a run before already moved; the fallbacks are registered anew each time.
MigrationOutcome migrateStoredKeys(DefaultsStore& defaults);

}  // namespace velaro
