#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

#include "libraryidentity.h"

namespace Quillset {

// The type library that the IDL compiler made from the library's interface definition, with its
// type descriptions moved into the identity's order (every reference to a type follows it) and
// each description's version and flags set from the identity, which the compiler cannot take
// on an event interface. Nothing, with error saying why, when the file holds anything this step
// does not know how to move or does not match the identity; it never returns a partial result.
std::optional<QByteArray> arrangeTypeLibrary(const QByteArray& compiled,
                                             const LibraryIdentity& identity, QString* error);

} // namespace Quillset
