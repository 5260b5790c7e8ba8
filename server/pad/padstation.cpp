#include "pad/padstation.h"

PadStationParts::PadStationParts(ActivityLog& log) : m_control(m_simulatedPad, log) {}

PadStation::PadStation(LiveSettings& settings, ActivityLog& log, ReplyChannel& replies,
                       EventPump& pump, qint16& padTimeout, const QString& settingsPath)
    : PadStationParts(log),
      SignaturePad(m_simulatedPad, settings, log, replies, pump, padTimeout, m_fileChooser)
{
    // Without its control port the pad still works; it has logged why it cannot listen.
    m_control.listen(PadControlServer::configuredPort(settingsPath));
}
