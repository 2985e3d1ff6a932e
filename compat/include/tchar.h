// The ANSI build's generic-text mappings.
#pragma once

#define _T(x) x
#define _TEXT(x) x
#define TEXT(x) x
#define _tcslen strlen
#define _tcscpy strcpy
#define _tcscmp strcmp
#define _stprintf sprintf
