// The library's pins, filter state and allocator agreement, in one include.
#pragma once

#include "DShowX/VEZizuradAllocator.h"
#include "DShowX/VEZizuradOutputPin.h"
#include "DShowX/VEZizuradPin.h"
#include "DShowX/VEZizuradPinBase.h"
