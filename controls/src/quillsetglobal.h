#pragma once

#include <QtGlobal>

// Symbols that hosts of the control library link against.
#if defined(QUILLSET_LIBRARY)
#define QUILLSET_EXPORT Q_DECL_EXPORT
#else
#define QUILLSET_EXPORT Q_DECL_IMPORT
#endif
