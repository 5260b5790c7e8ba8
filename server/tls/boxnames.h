#pragma once

#include <QStringList>

// The names a till may use for this machine when none are given: its host name, its fully
// qualified name, every address of its interfaces, "localhost", "127.0.0.1" and "::1". Each
// once, in that order; link-local IPv6 addresses (which need a zone) are left out.
QStringList boxNames();
