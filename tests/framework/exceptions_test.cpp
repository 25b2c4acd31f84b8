// The framework's exceptions: messages, reporting, release, error mapping.
#include "framework/exceptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/winapp.h"

namespace {

std::string Message(const CException& e) { return (const char*)e.GetErrorMessage(); }

TEST(FileExceptionTest, MessageOfEveryCauseWithAndWithoutName) {
  struct Case {
    int cause;
    const char* text;  // %1 where the name goes
  } cases[] = {
      {CFileException::none, "No error occurred."},
      {CFileException::generic, "An unexpected error occurred while accessing %1."},
      {CFileException::fileNotFound, "%1 was not found."},
      {CFileException::badPath, "%1 contains an invalid path."},
      {CFileException::tooManyOpenFiles,
       "%1 could not be opened because there are too many open files."},
      {CFileException::accessDenied, "Access to %1 was denied."},
      {CFileException::invalidFile, "An invalid file handle was associated with %1."},
      {CFileException::removeCurrentDir,
       "%1 could not be removed because it is the current directory."},
      {CFileException::directoryFull, "%1 could not be created because the directory is full."},
      {CFileException::badSeek, "Seek failed on %1."},
      {CFileException::hardIO, "A hardware I/O error was reported while accessing %1."},
      {CFileException::sharingViolation, "A sharing violation occurred while accessing %1."},
      {CFileException::lockViolation, "A locking violation occurred while accessing %1."},
      {CFileException::diskFull, "The disk is full while accessing %1."},
      {CFileException::endOfFile, "An attempt was made to access %1 past its end."},
      {99, "An unexpected error occurred while accessing %1."},
  };
  for (const Case& c : cases) {
    std::string withName = c.text, withoutName = c.text;
    size_t at = withName.find("%1");
    if (at != std::string::npos) {
      withName.replace(at, 2, "C:\\TEMP\\a b.dat");
      withoutName.replace(at, 2, "");
    }
    EXPECT_EQ(Message(CFileException(c.cause, -1, "C:\\TEMP\\a b.dat")), withName) << c.cause;
    EXPECT_EQ(Message(CFileException(c.cause)), withoutName) << c.cause;
    EXPECT_EQ(Message(CFileException(c.cause, -1, "")), withoutName) << c.cause;
  }
  // The exact text a setup run shows when its payload cannot be opened.
  EXPECT_EQ(Message(CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE)),
            "An invalid file handle was associated with .");
}

TEST(ArchiveExceptionTest, MessageOfEveryCause) {
  struct Case {
    int cause;
    const char* named;
    const char* unnamed;
  } cases[] = {
      {CArchiveException::none, "No error occurred.", "No error occurred."},
      {CArchiveException::generic, "An unknown error occurred while accessing Z:\\s\\Data.bin.",
       "An unknown error occurred while accessing an unnamed file."},
      {CArchiveException::readOnly, "An attempt was made to write to the reading Z:\\s\\Data.bin.",
       "An attempt was made to write to the reading an unnamed file."},
      {CArchiveException::endOfFile, "An attempt was made to access Z:\\s\\Data.bin past its end.",
       "An attempt was made to access an unnamed file past its end."},
      {CArchiveException::writeOnly,
       "An attempt was made to read from the writing Z:\\s\\Data.bin.",
       "An attempt was made to read from the writing an unnamed file."},
      {CArchiveException::badIndex, "Z:\\s\\Data.bin has a bad format.",
       "an unnamed file has a bad format."},
      {CArchiveException::badClass, "Z:\\s\\Data.bin contained an unexpected object.",
       "an unnamed file contained an unexpected object."},
      {CArchiveException::badSchema, "Z:\\s\\Data.bin contains an incorrect schema.",
       "an unnamed file contains an incorrect schema."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Message(CArchiveException(c.cause, "Z:\\s\\Data.bin")), c.named) << c.cause;
    EXPECT_EQ(Message(CArchiveException(c.cause)), c.unnamed) << c.cause;
    EXPECT_EQ(Message(CArchiveException(c.cause, "")), c.unnamed) << c.cause;
  }
}

// An exception class of the framework's kind that has no message.
class CSilentException : public CException {};

TEST(ExceptionTest, GetErrorMessageCutsToTheBuffer) {
  CFileException e(CFileException::fileNotFound, 2, "C:\\LONGNAME.TXT");
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "C:\\LONG");
  char one[1] = {'#'};
  EXPECT_TRUE(e.GetErrorMessage(one, 1));
  EXPECT_EQ(one[0], 0);
  EXPECT_TRUE(e.GetErrorMessage(nullptr, 0));  // nowhere to write: no crash
  // A class without a message says so, and leaves an empty buffer.
  CSilentException silent;
  char untouched[16] = "untouched";
  EXPECT_FALSE(silent.GetErrorMessage(untouched, sizeof untouched));
  EXPECT_STREQ(untouched, "");
}

TEST(ExceptionTest, LongNamesAppearWhole) {
  // Host paths can be long; the message must not be cut at some fixed size.
  const std::string name = "Z:\\" + std::string(3000, 'n') + ".bin";
  EXPECT_EQ(Message(CFileException(CFileException::fileNotFound, 2, name.c_str())),
            name + " was not found.");
  EXPECT_EQ(Message(CArchiveException(CArchiveException::badIndex, name.c_str())),
            name + " has a bad format.");
}

TEST(ExceptionTest, ReportErrorShowsTheMessageTitledWithTheAppName) {
  CWinApp app("SetupTitle");
  struct Case {
    CException* e;
    const char* line;
  } cases[] = {
      {new CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE),
       "SetupTitle: An invalid file handle was associated with ."},
      {new CArchiveException(CArchiveException::badClass, "C:\\x.exe"),
       "SetupTitle: C:\\x.exe contained an unexpected object."},
      {new CSilentException, "SetupTitle: No error message is available."},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    c.e->ReportError(MB_OK | MB_ICONEXCLAMATION);
    fflush(stderr);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    c.e->Delete();
  }
  testing::internal::CaptureStderr();
  try {
    AfxThrowMemoryException();
  } catch (CException* e) {
    e->ReportError();
    e->Delete();
  }
  fflush(stderr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SetupTitle: Out of memory."),
            std::string::npos);
}

// Counts destructions, to see whether Delete released the object.
int g_nDestroyed = 0;
class CTracked : public CFileException {
 public:
  ~CTracked() override { ++g_nDestroyed; }
};

TEST(ExceptionTest, DeleteReleasesHeapExceptionsButNotTheStaticMemoryException) {
  g_nDestroyed = 0;
  CException* heap = new CTracked;
  heap->Delete();  // ASan reports a leak if this does not free it
  EXPECT_EQ(g_nDestroyed, 1);

  CException* first = nullptr;
  CException* second = nullptr;
  try {
    AfxThrowMemoryException();
  } catch (CException* e) {
    first = e;
    e->Delete();
  }
  try {
    AfxThrowMemoryException();
  } catch (CException* e) {
    second = e;
    e->Delete();  // deleting a static object would crash or be reported
  }
  // The same object both times, still usable after its Delete.
  EXPECT_EQ(first, second);
  EXPECT_EQ(Message(*second), "Out of memory.");
}

TEST(FileExceptionTest, OsErrorToException) {
  struct Case {
    LONG error;
    int cause;
  } cases[] = {
      {NO_ERROR, CFileException::none},
      {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
      {ERROR_PATH_NOT_FOUND, CFileException::badPath},
      {ERROR_INVALID_DRIVE, CFileException::badPath},
      {ERROR_INVALID_NAME, CFileException::badPath},
      {ERROR_BAD_PATHNAME, CFileException::badPath},
      {ERROR_FILENAME_EXCED_RANGE, CFileException::badPath},
      {ERROR_DIRECTORY, CFileException::badPath},
      {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
      {ERROR_ACCESS_DENIED, CFileException::accessDenied},
      {ERROR_WRITE_PROTECT, CFileException::accessDenied},
      {ERROR_FILE_EXISTS, CFileException::accessDenied},
      {ERROR_ALREADY_EXISTS, CFileException::accessDenied},
      {ERROR_CANNOT_MAKE, CFileException::accessDenied},
      {ERROR_INVALID_HANDLE, CFileException::invalidFile},
      {ERROR_CURRENT_DIRECTORY, CFileException::removeCurrentDir},
      {ERROR_NO_MORE_FILES, CFileException::directoryFull},
      {ERROR_SEEK, CFileException::badSeek},
      {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
      {ERROR_WRITE_FAULT, CFileException::hardIO},
      {ERROR_READ_FAULT, CFileException::hardIO},
      {ERROR_GEN_FAILURE, CFileException::hardIO},
      {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
      {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
      {ERROR_HANDLE_DISK_FULL, CFileException::diskFull},
      {ERROR_DISK_FULL, CFileException::diskFull},
      {ERROR_HANDLE_EOF, CFileException::endOfFile},
      {ERROR_NOT_ENOUGH_MEMORY, CFileException::generic},
      {ERROR_INVALID_PARAMETER, CFileException::generic},
      {-1, CFileException::generic},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CFileException::OsErrorToException(c.error), c.cause) << c.error;
}

}  // namespace
