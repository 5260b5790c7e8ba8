#pragma once

#include <QString>

#include "libraryidentity.h"
#include "quillsetglobal.h"

namespace Quillset {

// The interface definition of the library's type library, for an IDL compiler to turn into
// the type library that hosts on the platform of the original controls register.
QUILLSET_EXPORT QString interfaceDefinition(const LibraryIdentity& identity);

} // namespace Quillset
