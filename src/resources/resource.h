// Resource identifiers of the component.
#pragma once

#define IDS_PROJNAME 100
#define IDS_TITLEFileSourcePage 101
#define IDS_REGISTRY_KEY 102

// The property page's dialog and its controls.
#define IDD_FILESOURCEPAGE 201
#define IDC_FILE_NAME 201      // edit: the open file's name
#define IDC_CHANGE 202         // button: pick and load another file
#define IDC_WAIT_SLIDER 203    // trackbar: the wait margin in KiB (hidden)
#define IDC_FILE_SIZE 204      // static: file size
#define IDC_READ_POS 205       // static: last read position
#define IDC_WAIT_BYTES 206     // static: bytes a read waits for
#define IDC_WAIT_KB 207        // static: the trackbar's position (hidden)
#define IDC_WRITE_RATE 208     // static: growth rate
#define IDC_READ_RATE 209      // static: read rate
#define IDC_ALLOW_SEEKING 210  // check box: seeking while the file grows
#define IDC_DELTA 211          // static: file size minus read position
#define IDC_MARGIN 212         // static: the wait margin in effect
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
