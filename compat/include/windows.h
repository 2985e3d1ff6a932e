// The Windows API subset of the Linux build. See compat/README.md.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winreg.h>
#include <wingdi.h>
#include <winuser.h>
#include <objbase.h>
