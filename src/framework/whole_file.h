// CWholeFile: a file that appears whole or not at all.
//
// The bytes go to a temporary file in the destination's folder, named as
// GetTempFileNameA names them ("sfx", hexadecimal digits, ".tmp") and made
// and opened in one step (CREATE_NEW on the first free name); Commit sets
// the status's times through its own handle, closes it, sets the status's
// attributes and only then puts it in the destination's place.
// Until Commit has succeeded the destination keeps its old content (or stays
// absent), and the destructor removes the temporary file.
//
// Putting in place: on the NT family one MoveFileExA with
// MOVEFILE_REPLACE_EXISTING. The 95 family has no replacing move, so an old
// copy is first renamed aside (to a second temporary name in the same
// folder), the new file renamed to the destination, and the old copy
// deleted; if the second rename fails, the old copy is renamed back. The
// destination's name is thus missing only between two renames within one
// folder, and the old content is never deleted before the new is in place.
//
// Failures throw CFileException naming the destination, as writing it in
// place would: a destination that is read-only or held open fails in the
// constructor, before anything is written, with the message an in-place
// open gives.
#pragma once

#include "framework/file.h"

class CWholeFile : public CFile {
 public:
  // bReplacingMove: the platform has MoveFileExA (the NT family).
  CWholeFile(const char* pszDest, BOOL bReplacingMove);
  // Removes the temporary file unless Commit succeeded; never throws.
  ~CWholeFile() override;
  CWholeFile(const CWholeFile&) = delete;
  CWholeFile& operator=(const CWholeFile&) = delete;

  // Closes the file, applies pStatus (when given) and puts the file in place.
  void Commit(const CFileStatus* pStatus);

 private:
  [[noreturn]] void ThrowForDest(DWORD dwError) const;
  DWORD CreateTemp();            // opens m_strTemp; ERROR_SUCCESS or the error
  CString NewTempName() const;  // empty when the platform gives none
  void ReplaceByRenames();
  void Discard();

  CString m_strDest;
  CString m_strFolder;  // the destination's folder, with its trailing "\"
  CString m_strTemp;    // empty once committed or discarded
  BOOL m_bReplacingMove;
  BOOL m_bExisted;  // the destination was there when writing began
};
