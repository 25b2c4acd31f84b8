// Paths of the installation: the path variables of catalogue directory
// strings ("%sysdir%", "%inst%", ...) and the creation of missing directories.
#pragma once

#include "framework/cstring.h"
#include "framework/exceptions.h"
#include "framework/log_stream.h"

// Expands a leading path variable of strSource into strResult (always
// assigned). strBase is the caller's base directory, ending in "\".
// Returns 1 when the variable marks a place for shared files, else 0.
//
// A variable that matches gets its replacement, the rest of the source
// unchanged, and a trailing "\" when the result lacks one; without a match the
// source comes back as it is. A directory the platform cannot report (the
// Windows directory or the Fonts folder) makes its variables match nothing,
// so nothing is ever redirected to the root of the current drive.
int ExpandPath(const CString& strSource, CString& strResult, const CString& strBase);

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
