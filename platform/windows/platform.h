// The platform operations the tool uses, on Windows: the SDK itself.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdlib.h>  // _doserrno
