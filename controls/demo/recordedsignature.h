#pragma once

#include <QList>
#include <QString>

// One pen sample as the pad reports it.
struct PenSample
{
    qint16 x = 0;
    qint16 y = 0;
    qint16 pentouch = 0;
};

// A signature recorded from a pad, as samples in the pad's units.
struct RecordedSignature
{
    qint16 padWidth = 1200;
    qint16 padHeight = 680;
    QList<PenSample> samples;
};

// The signature shipped with the demo.
RecordedSignature recordedSignature();
