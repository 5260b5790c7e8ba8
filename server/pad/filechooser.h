#pragma once

#include <optional>

#include <QString>

// Asks the user for a file to open: the settings window's file dialog, or a fixed answer in
// tests. Throws Failure when the chooser cannot be shown.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<QString> chooseFile(const QString& title, const QString& filterLabel,
                                              const QString& filterPattern) = 0;
};

// Without a window there is no file dialog: every choice is a cancel.
class NoFileChooser final : public FileChooser
{
public:
    std::optional<QString> chooseFile(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
};
