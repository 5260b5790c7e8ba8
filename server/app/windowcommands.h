#pragma once

#include <QString>

#include "tls/tillpairing.h"

// The commands of the settings window's menus that reach the server's subsystems. A command
// that fails logs why; none throws.
class WindowCommands
{
public:
    virtual ~WindowCommands() = default;
    // File > Save Settings: writes the window's fields to the settings file.
    virtual void mnuFileSave() = 0;
    // Tools > Log File > Purge Log.
    virtual void mnuToolsLogFilePurgeLog() = 0;
    // Tools > Log File > View Log.
    virtual void mnuToolsLogFileViewLog() = 0;
    // Tools > Pair a Till: a code that lets the till `name` pair itself.
    virtual TillPairingOffer mnuToolsPairTill(const QString& name) = 0;
    // QP6100 > Connect, Disconnect and Load Script.
    virtual void mnuQP6100Connect_Click() = 0;
    virtual void mnuQP6100Disconnect_Click() = 0;
    virtual void mnuQP6100LoadScript_Click() = 0;
};
