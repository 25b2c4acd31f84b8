// Creation of every missing directory along a path.
#pragma once

#include "framework/cstring.h"
#include "framework/log_stream.h"

// Creates each directory of strPath below its root, outermost first, and
// writes a "directory:" line into pLog (when given) for each one it made.
// strPath must end in "\"; its root (drive "C:", or "\\server\share\") is
// never created. A path with a single leading "\" or no "\" at all, one that
// does not end in "\", or one that names nothing below its root is left
// alone. A directory that cannot be made for a reason other than that it
// exists already throws the integer 2; directories made before stay.
void CreateDirectoryChain(const CString& strPath, CLogStream* pLog);
