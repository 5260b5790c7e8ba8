#pragma once

#include <QString>

#include "libraryidentity.h"
#include "quillsetglobal.h"

namespace Quillset {

// The interface definition of the library's type library, from which the build compiles the
// type library that hosts register.
QUILLSET_EXPORT QString interfaceDefinition(const LibraryIdentity& identity);

} // namespace Quillset
