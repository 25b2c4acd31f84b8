// Creation of every missing directory along a path.
#pragma once

#include "framework/cstring.h"
#include "framework/exceptions.h"
#include "framework/log_stream.h"

// A directory that could not be made: a file error naming the directory, of
// its own type so that the shared-file installation, which drops the file
// errors of its item, lets it end the run.
class CDirectoryException : public CFileException {
 public:
  using CFileException::CFileException;
};

// Creates each directory of strPath below its root, outermost first, and
// writes a "directory:" line into pLog (when given) for each one it made.
// strPath must end in "\"; its root (drive "C:", or "\\server\share\") is
// never created. A path with a single leading "\" or no "\" at all, one that
// does not end in "\", or one that names nothing below its root is left
// alone. A directory that cannot be made for a reason other than that it
// exists already throws CDirectoryException with the platform's reason;
// directories made before stay.
void CreateDirectoryChain(const CString& strPath, CLogStream* pLog);
