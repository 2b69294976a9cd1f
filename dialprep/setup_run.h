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
//   - the link goes to the all users' desktop folder the shell names.  On
//     XP that is the folder the language picks ("...\All Users\Bureau" for
//     French, "...\All Users\Desktop" else), and the command line is the
//     language's own; since Vista it is another folder, and "...\All Users"
//     leads to c:\ProgramData, where any user may make a "Bureau" or a
//     "Desktop" of his own: the language's folder is used only where the
//     shell names none.
//
// The run is elevated, and the tool copy lies in a folder where anyone may
// make files: it starts the tool only when all three files were installed
// as new files of its own, and only while it holds the copy so that nobody
// can change it, after comparing it with the kit's tool byte for byte.  A
// desktop folder that is missing or a link (a junction, a symbolic link) is
// never written into.  Its exit code says whether the setup worked
// (SetupResult).
//
// The logic is plain code over the runtime operations it needs, so that it
// runs the same against Windows (form.cpp) and against a test's recording.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dialprep {

// The operations of the program's runtime the run uses.  Each reports
// failure by its result; the run never looks further.  Texts are UTF-8, so
// that a folder of any name works; the Windows runtime hands them to the
// wide-character API.
class Runtime {
 public:
  // The current directory of the current drive; a drive root ends in a
  // backslash ("D:\"), any other folder does not.
  virtual bool CurrentDirectory(char* buffer, std::size_t size) = 0;
  // Copies source to destination as a new file: a file of that name, a
  // read-only one included, loses the name first, and under any other name
  // (a hard link) keeps its contents.  A destination that is a folder or a
  // link (a symbolic link, a junction) fails, and so does one that someone
  // takes between the removal and the new file: the copy never writes
  // through another name.
  virtual bool FileCopy(const char* source, const char* destination) = 0;
  // Switches off the redirection of the system folders that 64-bit Windows
  // applies to a 32-bit program; false where there is none to switch off
  // (a 32-bit system, or a system without the operation).
  virtual bool FileRedirectionOff() = 0;
  // Switches it back on after a FileRedirectionOff that returned true.
  virtual void FileRedirectionOn() = 0;
  // Whether the path names an existing folder that is itself no link (no
  // junction, symbolic link or other reparse point).
  virtual bool PlainFolderExists(const char* path) = 0;
  // The all users' desktop folder the shell names, whether or not it
  // exists; false when the shell names none.
  virtual bool CommonDesktopFolder(char* buffer, std::size_t size) = 0;
  // Whether the ANSI code page holds the text exactly: the tool reads its
  // command line in that code page, and refuses one that it does not.
  virtual bool AnsiCodePageHolds(const char* text) = 0;
  virtual int32_t UserDefaultLocale() = 0;
  // Writes the text and its NUL; returns the characters written, NUL
  // included, or 0 on failure.
  virtual int LocaleInfo(int32_t locale, int32_t type, char* buffer, int size) = 0;
  // Opens the program file so that, until ReleaseProgram, nobody can write,
  // rename or delete it, and compares it with original byte for byte.
  // false, and nothing held, when it cannot be opened so, is not a plain
  // file (a folder, a link), or differs.
  virtual bool HoldProgram(const char* path, const char* original) = 0;
  virtual void ReleaseProgram() = 0;
  // Starts the program the command line names, with the given window
  // style, without waiting for it.
  virtual bool StartProgram(const char* commandLine, int windowStyle) = 0;
  virtual bool FileDelete(const char* path) = 0;
  virtual void SetTimerInterval(int milliseconds) = 0;
  virtual void EnableTimer(bool enabled) = 0;
  // Ends the program at once with the exit code: no event of the form or
  // the timer follows.
  virtual void EndProgram(int exitCode) = 0;

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

// The exit code of the program: 0 when the three files were installed and
// the tool was started to make the link in the desktop folder the shell
// names; else the first step of the run that failed.  docs/kit.md lists
// them.
enum SetupResult : int {
  kSetupDone = 0,
  kPhonebookNotInstalled = 1,
  kToolNotInstalled = 2,
  kIconNotInstalled = 3,
  // The shell's desktop folder (where it names none, the language's) is
  // missing or a link: nothing is started.
  kNoDesktopFolder = 4,
  // The shell's desktop folder cannot go on the tool's command line (the
  // ANSI code page lacks a character of it, or it is too long): no link is
  // made anywhere else, and nothing is started.
  kDesktopNotOnCommandLine = 5,
  // The tool copy could not be held, or is not the kit's tool byte for byte.
  kToolCopyNotTheKits = 6,
  kToolNotStarted = 7,
};

// The load event of the form: the whole setup run.  Nothing is started
// unless all three files were installed.  Returns the exit code the
// program is to end with.
int SetupRun(Runtime& runtime);

// The tick of the timer: delete the tool copy and end with the run's exit
// code.  Closing the form before the tick ends the program the same way.
void TimerTick(Runtime& runtime, int exitCode);

}  // namespace dialprep
