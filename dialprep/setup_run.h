// The setup run of dialprep: install the kit's files, choose the desktop
// folder by the user's language, start the shortcut tool, and 2000 ms
// later delete the tool copy and end.
//
// Two mends for the Windows of today, neither of which changes a run on the
// 32-bit XP-era system the kit was made for:
//   - a 32-bit program on 64-bit Windows sees c:\windows\system32 redirected
//     to SysWOW64; the redirection is switched off around the three copies,
//     so that the phonebook and the icon land where the 64-bit dialler and
//     shell look (and where the link points);
//   - since Vista the All Users desktop is called "Desktop" on disk in every
//     language, so "...\All Users\Bureau" does not exist on a French system;
//     when the folder the language picks is missing, the link goes to the
//     all users' desktop folder that the shell reports.
//
// The logic is plain code over the runtime operations it needs, so that it
// runs the same against Windows (form.cpp) and against a test's recording.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dialprep {

// The operations of the program's runtime the run uses.  Each reports
// failure by its result; the run never looks further.
class Runtime {
 public:
  // The current directory of the current drive; a drive root ends in a
  // backslash ("D:\"), any other folder does not.
  virtual bool CurrentDirectory(char* buffer, std::size_t size) = 0;
  // Copies source to destination, replacing a file of that name.
  virtual bool FileCopy(const char* source, const char* destination) = 0;
  // Switches off the redirection of the system folders that 64-bit Windows
  // applies to a 32-bit program; false where there is none to switch off
  // (a 32-bit system, or a system without the operation).
  virtual bool FileRedirectionOff() = 0;
  // Switches it back on after a FileRedirectionOff that returned true.
  virtual void FileRedirectionOn() = 0;
  // Whether the path names an existing folder.
  virtual bool FolderExists(const char* path) = 0;
  // The all users' desktop folder as the shell reports it; false when it
  // reports none.
  virtual bool CommonDesktopFolder(char* buffer, std::size_t size) = 0;
  virtual int32_t UserDefaultLocale() = 0;
  // Writes the text and its NUL; returns the characters written, NUL
  // included, or 0 on failure.
  virtual int LocaleInfo(int32_t locale, int32_t type, char* buffer, int size) = 0;
  // Starts the program the command line names, with the given window
  // style, without waiting for it.
  virtual bool StartProgram(const char* commandLine, int windowStyle) = 0;
  virtual bool FileDelete(const char* path) = 0;
  virtual void SetTimerInterval(int milliseconds) = 0;
  virtual void EnableTimer(bool enabled) = 0;
  // Ends the program at once: no event of the form or the timer follows.
  virtual void EndProgram() = 0;

 protected:
  ~Runtime() = default;
};

// LOCALE_IDEFAULTLANGUAGE
inline constexpr int32_t kLocaleDefaultLanguage = 9;
// SW_SHOWMINIMIZED: minimised and active
inline constexpr int kWindowStyleMinimized = 2;
inline constexpr int kTimerInterval = 2000;
inline constexpr int kLocaleBufferSize = 1024;

// Fixed places of a Windows system in c:\windows.
inline constexpr char kPhonebookDestination[] = "c:\\windows\\system32\\ras";
inline constexpr char kToolDestination[] = "c:\\windows\\temp";
inline constexpr char kIconDestination[] = "c:\\windows\\system32\\zelvo.ico";
inline constexpr char kPhonebookName[] = "\\rasphone.pbk";
inline constexpr char kToolName[] = "\\shortcut.exe";
inline constexpr char kIconName[] = "\\zelvo.ico";

// The two command lines the run may start: the head, the desktop folder
// the language picks, and the tail.
inline constexpr char kCommandHead[] = "c:\\windows\\temp\\shortcut.exe /F:\"";
inline constexpr char kCommandTail[] =
    "\\Zelvo ADSL.lnk\" /A:C /T:rasphone.exe /P:\"-f c:\\windows\\system32\\ras\\rasphone.pbk -d "
    "Zelvo\" /I:c:\\windows\\system32\\zelvo.ico";
inline constexpr char kBureauFolder[] = "c:\\Documents and Settings\\All Users\\Bureau";
inline constexpr char kDesktopFolder[] = "c:\\Documents and Settings\\All Users\\Desktop";
inline constexpr char kBureauCommand[] =
    "c:\\windows\\temp\\shortcut.exe /F:\"c:\\Documents and Settings\\All Users\\Bureau\\Zelvo "
    "ADSL.lnk\" /A:C /T:rasphone.exe /P:\"-f c:\\windows\\system32\\ras\\rasphone.pbk -d "
    "Zelvo\" /I:c:\\windows\\system32\\zelvo.ico";
inline constexpr char kDesktopCommand[] =
    "c:\\windows\\temp\\shortcut.exe /F:\"c:\\Documents and Settings\\All Users\\Desktop\\Zelvo "
    "ADSL.lnk\" /A:C /T:rasphone.exe /P:\"-f c:\\windows\\system32\\ras\\rasphone.pbk -d "
    "Zelvo\" /I:c:\\windows\\system32\\zelvo.ico";

// The language code's command: "040c" (French) the Bureau command, any
// other text the Desktop command.  The comparison is exact.
const char* CommandForLanguage(const char* languageCode);
// The folder of that command: kBureauFolder or kDesktopFolder.
const char* FolderForLanguage(const char* languageCode);

// Room for a command line with a desktop folder of the shell's.
inline constexpr std::size_t kCommandSize = 1024;

// The command line that makes the link in the given desktop folder: the
// head, the folder and the tail, with nothing between them.  false when it
// does not fit.
bool CommandForFolder(const char* folder, char (&command)[kCommandSize]);

// The locale's information text without its NUL, or "" when the query
// fails.  result must hold kLocaleBufferSize characters.
void GetLocaleText(Runtime& runtime, int32_t locale, int32_t infoType,
                   char (&result)[kLocaleBufferSize]);

// The load event of the form: the whole setup run.
void SetupRun(Runtime& runtime);

// The tick of the timer: delete the tool copy and end.  Closing the form
// before the tick ends the program the same way.
void TimerTick(Runtime& runtime);

}  // namespace dialprep
