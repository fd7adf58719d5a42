#pragma once
// Start-up and shut-down of the process-wide file-format registry: which extensions the
// reader understands, how they are described, and which graphic class reads them.
#include "imaging/FileFormatList.h"

// Creates the process-wide registry and registers every supported extension, which also binds
// it in the picture holder's table. Does nothing when the registry exists already.
void RegisterImageFormats();
// Unregisters the format classes and destroys the registry, whose clean-up unregisters the
// classes still listed from the picture holder. Does nothing without a registry.
void UnregisterImageFormats();
// The process-wide registry, or null outside RegisterImageFormats ... UnregisterImageFormats.
TFileFormatList* FileFormatList();
