// The media framework for the Linux build: the interfaces and records, the
// video format block, the identifiers and the result codes.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <mmsystem.h>
#include <strmif.h>
#include <amvideo.h>
#include <uuids.h>
#include <errors.h>

#ifndef NUMELMS
#define NUMELMS(array) (sizeof(array) / sizeof((array)[0]))
#endif
