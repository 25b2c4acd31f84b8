// The five catalogue classes: what the payload holds and how to install it.
//
// Archive 1 of the payload is the file table (a CObArray of CCompFileInfo);
// archive 2 is the project (one CBuildItems), which holds the file items
// (CBuildItem), the programs to start (CExecutableItem) and the index lists
// (CIndexArray) that group items by component and by platform. Item i of the
// project belongs to entry i of the file table. Each class serializes its
// members in the order they are declared here, except CBuildItems, whose
// Serialize has an order of its own.
#pragma once

#include "framework/collections.h"
#include "framework/cstring.h"
#include "framework/object.h"

class CArchive;

// A file-table entry: one compressed stream of the payload.
class CCompFileInfo : public CObject {
  DECLARE_SERIAL(CCompFileInfo)
 public:
  CCompFileInfo();
  void Serialize(CArchive& ar) override;

  DWORD m_ctime;        // creation time, seconds since 1970 (UTC)
  DWORD m_mtime;        // last-write time, same unit
  BYTE m_attribute;     // file attribute bits
  CString m_strName;    // file name without directory
  DWORD m_dwVersionMS;  // file version, high half
  DWORD m_dwVersionLS;  // file version, low half
  DWORD m_dwStart;      // payload offset of the stream's first byte
  DWORD m_dwEnd;        // payload offset after the stream's last byte
};

// A file to install.
class CBuildItem : public CObject {
  DECLARE_SERIAL(CBuildItem)
 public:
  CBuildItem();
  void Serialize(CArchive& ar) override;

  CString m_strName;         // installed file name
  CString m_strDestDir;      // destination, may start with a path variable
  CString m_strPlatformDir;  // "win32\", "win16\" or empty
  CString m_strSourcePath;   // where the file lay when the catalogue was built
  DWORD m_bPlatformSpecific; // nonzero: only if listed for the platform
  DWORD m_dwVersionMS;
  DWORD m_dwVersionLS;
  DWORD m_dwSize;            // not consulted
};

// A program to start after a component is installed.
class CExecutableItem : public CObject {
  DECLARE_SERIAL(CExecutableItem)
 public:
  CExecutableItem();
  void Serialize(CArchive& ar) override;

  CString m_strName;     // program file name
  CString m_strDir;      // its directory, may start with a path variable
  DWORD m_dwReserved;    // not consulted
  DWORD m_nComponent;    // component after which it is started
};

// A list of item indices (positions in the project's m_arrItems).
class CIndexArray : public CObject {
  DECLARE_SERIAL(CIndexArray)
 public:
  void Serialize(CArchive& ar) override;

  CDWordArray m_dwIndices;
};

// The project: root object of archive 2.
class CBuildItems : public CObject {
  DECLARE_SERIAL(CBuildItems)
 public:
  CBuildItems();
  ~CBuildItems() override;
  void Serialize(CArchive& ar) override;

  CString m_strProject;          // logged as "project:"
  CString m_strMainProgram;      // started last with " /UNS"
  CStringArray m_arrInstallDirs; // not consulted
  WORD m_wMainInWindowsDir;      // main program in the Windows directory
  CObArray m_arrPrograms;        // CExecutableItem, owned
  CObArray m_arrItems;           // CBuildItem, owned
  CObArray m_arrComponents;      // CIndexArray per component, owned
  CObArray m_arrPlatforms;       // CIndexArray per platform, owned
  CString m_strExtra;            // not consulted
  DWORD m_dwBlock1Size;
  void* m_pBlock1;               // locked moveable global memory, or null
  DWORD m_dwBlock2Size;
  void* m_pBlock2;
  CString m_strBlock1File;       // file whose bytes become block 1 when storing
  CString m_strBlock2File;
};

// The engine's file table (archive 1): loads or stores an object array of
// CCompFileInfo. Loading deletes the entries held first and accepts only new
// CCompFileInfo objects (badClass for another class, a null entry or an entry
// that repeats an earlier one), so that DeleteFileTable deletes each once.
void SerializeFileTable(CArchive& ar, CObArray& arrFileTable);
// Deletes the file table's entries and empties it.
void DeleteFileTable(CObArray& arrFileTable);
