#pragma once

#include "pad/filechooser.h"

// The Load Script command's file dialog in the tray program.
class DialogFileChooser final : public FileChooser
{
public:
    std::optional<QString> chooseFile(const QString& title, const QString& filterLabel,
                                      const QString& filterPattern) override;
};
