// Media samples and the memory allocator that hands them out.
#pragma once

#include "DShowX/DSAllocatorBuffers.h"
#include "DShowX/DSMediaSample.h"
#include "DShowX/DSMemoryAllocator.h"
