// The mirror of the updater's can-check state.
#include "ui/settings/pages/UpdateCheckModel.h"

#include "platform/Updater.h"

namespace velaro {

UpdateCheckModel::UpdateCheckModel(Updater& updater) : updater_(updater) {
    mirror_ = updater_.canCheckForUpdates().stream().sink([this](bool can) { canCheckForUpdates = can; });
}

bool UpdateCheckModel::hasUpdateFeed() const {
    return updater_.hasUpdateFeed();
}

}  // namespace velaro
