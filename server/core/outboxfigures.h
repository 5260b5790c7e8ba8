#pragma once

#include <QtGlobal>

// What waits in the signature outbox, for the metrics, the health answer and the tray.
struct OutboxFigures
{
    int waiting = 0;
    // How long the picture that has waited longest has waited, in seconds; 0 when none.
    qint64 oldestSeconds = 0;
    // Pictures given up in the last 24 hours.
    int givenUpLastDay = 0;
};
