#pragma once

#include <QString>

#include "pad/filechooser.h"
#include "pad/padcontrolserver.h"
#include "pad/signaturepad.h"
#include "pad/simulatedpad.h"

class ActivityLog;
class EventPump;
class LiveSettings;
class ReplyChannel;

// The parts that exist before the pad operations: the simulated pad, its control port and
// the file chooser. A base of PadStation so that they are built first.
struct PadStationParts
{
    SimulatedPad m_simulatedPad;
    PadControlServer m_control;
    NoFileChooser m_fileChooser;

    explicit PadStationParts(ActivityLog& log);
};

// The signature pad as the server runs it: the simulated QP6100 with its control
// port on 127.0.0.1 (the "padControlPort" of section "Simulator"), and the pad operations over
// it.
class PadStation final : private PadStationParts, public SignaturePad
{
public:
    PadStation(LiveSettings& settings, ActivityLog& log, ReplyChannel& replies, EventPump& pump,
               qint16& padTimeout, const QString& settingsPath);
};
