// Common controls for the Linux build: the trackbar's messages, which the
// library's trackbar wrapper sends to its control (DShowX/DSDialog.h).
#pragma once

#include <windows.h>

#define TRACKBAR_CLASSA "msctls_trackbar32"

#define TBM_GETPOS (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)
