#pragma once

#include <QString>

// Deletes the file without forcing: a read-only file (its owner may not write it) is not
// deleted and raises Failure 70, whoever runs the program; a deletion that fails otherwise
// raises Failure 75.
void removeWithoutForcing(const QString& path);
