// GCC's Objective-C headers expect this header; on this toolchain the blocks runtime lives in Block.h.
#include <Block.h>
