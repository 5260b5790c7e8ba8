#pragma once

#include <QString>
#include <QStringList>

// When root writes into a program folder of the service's user, hands the files made there to
// that user, who must read them. Does nothing for anyone else.
void giveToFolderOwner(const QString& home, const QStringList& files);
