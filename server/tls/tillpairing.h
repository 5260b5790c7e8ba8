#pragma once

#include <QDateTime>
#include <QString>

class ProgramFolder;

// A code that lets a till pair itself, or why none was made.
struct TillPairingOffer
{
    QString code;
    // When the code stops working.
    QDateTime expires;
    // Why there is no code; empty when there is one.
    QString problem;
    // The problem is the name asked for (empty, taken, ...), not the program folder.
    bool wrongName = false;
};

// Lets the till `name` pair itself with the program folder `folder`: a new code, valid for
// ten minutes, once, that replaces any code the name had. The till must not be registered yet.
TillPairingOffer offerPairing(const ProgramFolder& folder, const QString& name);
