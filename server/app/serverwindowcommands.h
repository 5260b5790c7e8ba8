#pragma once

#include "app/windowcommands.h"
#include "core/programfolder.h"

class ActivityLog;
class LiveSettings;
class PadConnection;
class SettingsFile;
class TextViewer;
struct Settings;

// What the settings window's menus do to the server: save the window's fields beside the rest
// of the settings as read, purge or show the log, drive the pad's connection.
class ServerWindowCommands final : public WindowCommands
{
public:
    // `stored` is the settings file as read at start-up: what the window does not show is
    // written back from it.
    ServerWindowCommands(SettingsFile& file, const Settings& stored, const LiveSettings& window,
                         ActivityLog& log, TextViewer& viewer, PadConnection& pad,
                         ProgramFolder folder);

    void mnuFileSave() override;
    void mnuToolsLogFilePurgeLog() override;
    void mnuToolsLogFileViewLog() override;
    TillPairingOffer mnuToolsPairTill(const QString& name) override;
    void mnuQP6100Connect_Click() override;
    void mnuQP6100Disconnect_Click() override;
    void mnuQP6100LoadScript_Click() override;

private:
    SettingsFile& m_file;
    const Settings& m_stored;
    const LiveSettings& m_window;
    ActivityLog& m_log;
    TextViewer& m_viewer;
    PadConnection& m_pad;
    ProgramFolder m_folder;
};
