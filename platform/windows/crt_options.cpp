// The C runtime of MinGW-w64 expands wildcards in the arguments when
// _dowildcard is set; the tool takes "/F:*.lnk" as it stands.
extern "C" {
int _dowildcard = 0;
}
