#include "command_line.h"

#include "link_store.h"
#include "print.h"

LINK_OPTIONS LinkOptions = kLinkOptionsAtStart;
bool TraceEnabled = false;

namespace {

constexpr const char* kHelpWords[] = {"/?", "-?", "/help", "-help"};
constexpr char kTraceSwitch[] = "/TraceOut";

enum class SwitchKind { FileName, Action, Text, RunStyle, Icon, HotKey };

struct Switch {
  const char* Prefix;  // three characters
  SwitchKind Kind;
  char* Text;          // destination of a Text switch
};

// In the order they are tried.
const Switch kSwitches[] = {
    {"/F:", SwitchKind::FileName, LinkRecord.FileName},
    {"/A:", SwitchKind::Action, nullptr},
    {"/T:", SwitchKind::Text, LinkOptions.TargetPath},
    {"/P:", SwitchKind::Text, LinkOptions.Arguments},
    {"/W:", SwitchKind::Text, LinkOptions.WorkingDirectory},
    {"/R:", SwitchKind::RunStyle, nullptr},
    {"/I:", SwitchKind::Icon, nullptr},
    {"/H:", SwitchKind::HotKey, nullptr},
    {"/D:", SwitchKind::Text, LinkOptions.Description},
};

struct ActionLetter {
  char Letter;
  int32_t Mode;
};
constexpr ActionLetter kActions[] = {
    {'C', MODE_CREATE}, {'E', MODE_EDIT}, {'Q', MODE_QUERY}};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

int InvalidParameter(const char* argument) {
  Print("\nThe parameter \"%s\" is invalid.\n\nThe syntax of the command is "
        "incorrect.\n",
        argument);
  return kExitInvalidParameter;
}

void ReadAction(const char* value) {
  char one[2] = {value[0], '\0'};
  for (const ActionLetter& action : kActions) {
    const char letter[2] = {action.Letter, '\0'};
    if (one[0] != '\0' && TextEqualsIgnoreCase(one, letter)) {
      LinkOptions.SelectedMode = action.Mode;
      return;
    }
  }
}

void TraceIcon() {
  if (TraceEnabled)
    Print("\nszIconLocation: [%s], iIconIndex: [%i]", LinkOptions.IconLocation,
          static_cast<int>(LinkOptions.IconIndex));
}

// The value has been checked to fit IconLocation.
void ReadIcon(const char* value) {
  CopyText(LinkOptions.IconLocation, value);
  TraceIcon();
  LinkOptions.IconIndex = 0;
  char* comma = FindLastChar(LinkOptions.IconLocation, ',');
  if (comma == nullptr) return;
  if (comma[1] != '\0') LinkOptions.IconIndex = ReadNumber(comma + 1);
  *comma = '\0';
  TraceIcon();
}

void ReadHotKey(const char* value) {
  LinkOptions.HotKey = ReadNumber(value);
  if (TraceEnabled) {
    Print("\nwHotKey: [%i]", static_cast<int>(LinkOptions.HotKey & 0xFFFF));
    Print("\nHOTKEYF_ALT: [%i], HOTKEYF_CONTROL: [%i], HOTKEYF_EXT: [%i], "
          "HOTKEYF_SHIFT: [%i]",
          HOTKEYF_ALT, HOTKEYF_CONTROL, HOTKEYF_EXT, HOTKEYF_SHIFT);
  }
}

// A text value must fit its buffer: a longer one is refused, never cut.
bool FitsTextBuffer(const char* value) {
  std::size_t n = 0;
  while (value[n] != '\0') {
    if (++n > kTextSize - 1) return false;
  }
  return true;
}

}  // namespace

int32_t ReadNumber(const char* text) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  uint32_t value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10u + static_cast<uint32_t>(*p++ - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

bool ReadArguments(int argc, char* argv[], int* exitCode) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];

    for (const char* help : kHelpWords) {
      if (TextEqualsIgnoreCase(argument, help)) {
        UsageScreen(argv[0]);
        *exitCode = kExitUsage;
        return false;
      }
    }

    const Switch* matched = nullptr;
    for (const Switch& candidate : kSwitches) {
      if (TextStartsWithIgnoreCase(argument, candidate.Prefix)) {
        matched = &candidate;
        break;
      }
    }
    if (matched == nullptr) {
      if (TextEquals(argument, kTraceSwitch)) {
        TraceEnabled = true;
        continue;
      }
      *exitCode = InvalidParameter(argument);
      return false;
    }

    const char* value = argument + 3;
    if (!FitsTextBuffer(value)) {
      *exitCode = InvalidParameter(argument);
      return false;
    }
    switch (matched->Kind) {
      case SwitchKind::FileName:
      case SwitchKind::Text:
        CopyText({matched->Text, kTextSize}, value);
        break;
      case SwitchKind::Action:
        ReadAction(value);
        break;
      case SwitchKind::RunStyle:
        LinkOptions.RunStyle = ReadNumber(value);
        break;
      case SwitchKind::Icon:
        ReadIcon(value);
        break;
      case SwitchKind::HotKey:
        ReadHotKey(value);
        break;
    }
  }
  return true;
}

void UsageScreen(const char* programPath) {
  char path[kTextSize];
  CopyText(path, programPath != nullptr ? programPath : "");
  const char* backslash = FindLastChar(path, '\\');
  const char* name = backslash != nullptr ? backslash + 1 : path;

  Print("\n");
  Print("\n%s [Version %s]", "Shortcut", "1.10");
  Print("\n");
  Print("\n%s", "Creates, modifies or queries Windows shell links (shortcuts)");
  Print("\n");
  Print("\n");
  Print("\nThe syntax of this command is:");
  Print("\n");
  Print("\n%s /F:filename /A:C|E|Q [/T:target] [/P:parameters] [/W:workingdir]",
        name);
  Print("\n\t [/R:runstyle] [/I:icon,index] [/H:hotkey] [/D:description]");
  Print("\n");
  Print("\n /F:filename\t: Specifies the .LNK or .URL shortcut file.");
  Print("\n /A:action\t: Defines the action to take (C=Create, E=Edit or Q=Query).");
  Print("\n /T:target\t: Defines the target path and file name the shortcut points to.");
  Print("\n /P:parameters\t: Defines the command-line parameters to pass to the target.");
  Print("\n /W:working dir\t: Defines the working directory the target starts with.");
  Print("\n /R:run style\t: Defines the window state (1=Normal, 3=Max, 7=Min).");
  Print("\n /I:icon,index\t: Defines the icon and optional index (file.exe or file.exe,0).");
  Print("\n /H:hotkey\t: Defines the hotkey, a numeric value of the keyboard shortcut.");
  Print("\n /D:description\t: Defines the description (or comment) for the shortcut.");
  Print("\n");
  Print("\n Notes:");
  Print("\n - Any argument that contains spaces must be enclosed in \"double quotes\".");
  Print("\n - If Query is specified (/A:Q), all arguments except /F: are ignored.");
  Print("\n - To find the numeric hotkey value, use Explorer to set a hotkey and then /A:Q");
  Print("\n - To prevent an environment variable from being expanded until the shortcut ");
  Print("\n   is launched, use the ^ carat escape character like this: ^%%WINDIR^%%");
  Print("\n");
  Print("\n Examples:");
  Print("\n   /f:\"%%ALLUSERSPROFILE%%\\Start Menu\\Programs\\My App.lnk\" /a:q");
  Print("\n   /f:\"%%USERPROFILE%%\\Desktop\\Notepad.lnk\" /a:c /t:^%%WINDIR^%%\\Notepad.exe /h:846");
  Print("\n   /f:\"%%USERPROFILE%%\\Desktop\\Notepad.lnk\" /a:e /p:C:\\Setup.log /r:3");
  Print("\n");
  Print("\n An argument of /? or -? displays this syntax and returns 1.");
  Print("\n A successful completion will return %i.", 0);
  Print("\n");
  Print("\n");
  Print("\n Written for the Zelvo connection kit by its developers.");
  Print("\n");
}
