// The settings model over a real defaults file in a temporary folder, on the Qt main loop: what the app
// would build at start-up, for desktop tests that drive app objects from the test process.
#pragma once

#include <QTemporaryDir>

#include <memory>
#include <string>

#include "base/QtMainLoop.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "settings/OverlaySettings.h"

namespace velaro::e2e {

struct TempSettings {
    QTemporaryDir dir;
    std::string path = dir.filePath("defaults.json").toStdString();
    QtMainLoop loop;
    JsonDefaultsStore store{loop, path};
    OverlaySettings settings{store, loop};
};

}  // namespace velaro::e2e
