#include "shell/dialogfilechooser.h"

#include <QFileDialog>

std::optional<QString> DialogFileChooser::chooseFile(const QString& title,
                                                     const QString& filterLabel,
                                                     const QString& filterPattern)
{
    // The label may already name its pattern, as "Script Bin Files(*.bin)" does.
    const QString filter =
        filterLabel.contains(filterPattern)
            ? filterLabel
            : filterLabel + QStringLiteral(" (") + filterPattern + QLatin1Char(')');
    const QString path = QFileDialog::getOpenFileName(nullptr, title, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}
