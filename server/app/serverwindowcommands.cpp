#include "app/serverwindowcommands.h"

#include "core/livesettings.h"
#include "log/activitylog.h"
#include "log/textviewer.h"
#include "pad/padconnection.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"

ServerWindowCommands::ServerWindowCommands(SettingsFile& file, const Settings& stored,
                                           const LiveSettings& window, ActivityLog& log,
                                           TextViewer& viewer, PadConnection& pad,
                                           ProgramFolder folder)
    : m_file(file), m_stored(stored), m_window(window), m_log(log), m_viewer(viewer), m_pad(pad),
      m_folder(std::move(folder))
{
}

TillPairingOffer ServerWindowCommands::mnuToolsPairTill(const QString& name)
{
    return offerPairing(m_folder, name);
}

void ServerWindowCommands::mnuFileSave()
{
    // The window's fields as they stand now; the rest as read.
    m_file.mnuFileSave(m_stored.withWindow(m_window.fields()));
}

void ServerWindowCommands::mnuToolsLogFilePurgeLog()
{
    m_log.purge_log();
}

void ServerWindowCommands::mnuToolsLogFileViewLog()
{
    view_log(m_log, m_viewer);
}

void ServerWindowCommands::mnuQP6100Connect_Click()
{
    m_pad.runConnect();
}

void ServerWindowCommands::mnuQP6100Disconnect_Click()
{
    m_pad.runDisconnect();
}

void ServerWindowCommands::mnuQP6100LoadScript_Click()
{
    m_pad.runLoadScript();
}
