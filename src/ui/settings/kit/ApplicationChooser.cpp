// The open dialog for applications.
#include "ui/settings/kit/ApplicationChooser.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace velaro {

std::string applicationsFolder() {
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
        if (QDir(folder).exists()) return folder.toStdString();
    return QDir::homePath().toStdString();
}

ApplicationChooser standardApplicationChooser() {
    return []() -> std::optional<std::string> {
        QFileDialog dialog(QApplication::activeWindow(), QString(),
                           QString::fromStdString(applicationsFolder()),
                           QStringLiteral("Applications (*.desktop)"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return std::nullopt;
        return chosen.front().toStdString();
    };
}

}  // namespace velaro
