// CInstaller: the engine, the state of one installation run.
//
// Created by the application object, it opens the payload (OpenPayload),
// installs one component (Install) and is deleted. Its operations are
// defined where their work is, all in this folder: construction and
// OpenPayload here (loading the catalogue is payload/open_payload.h's), the
// item filter, InstallItem, ScheduleReplacement and the installation loop in
// files of their own.
#pragma once

#include "framework/collections.h"
#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/log_stream.h"

class CBuildItem;
class CBuildItems;

class CInstaller {
 public:
  CInstaller();
  ~CInstaller();
  CInstaller(const CInstaller&) = delete;
  CInstaller& operator=(const CInstaller&) = delete;

  // Finds and opens the payload, loads the file table and the project.
  void OpenPayload();

  BOOL IsItemSelected(CBuildItem* pItem, int nIndex);
  void InstallItem(CBuildItem* pItem, int nIndex, CString& strInstallDir);
  // Copies the new file beside the one in use and arranges the rename at the
  // next restart.
  void ScheduleReplacement(const CString& strName, const CString& strInstalled,
                           const CString& strSourceDir);

  void Install(int nComponent, CString& strInstallDir);
  void BeginInstall();
  int InstallNext(int nComponent, CString& strInstallDir);
  void Finish(int nComponent, CString& strInstallDir);

  CBuildItems* m_pProject;   // owned
  int m_nPlatformIndex;      // always 1
  BOOL m_bWinNT;             // platform id 2
  CString m_strModuleDir;    // the executable's directory, ending in "\"
  int m_nNextEntry;          // next position in the component's index list
  CFile m_filePayload;       // open from OpenPayload to destruction
  CObArray m_arrFileTable;   // CCompFileInfo entries, owned
  // The destination folder whose chain was made last. The files of a folder
  // follow each other in the catalogue; making the chain again for each of
  // them would only find every level there already.
  CString m_strChainMade;
};

// The process's removal log, constructed on first use.
CLogStream& RemovalLog();
