#pragma once
// What the platform opens files and folders as: a HANDLE on Windows, held as
// void* so that no neutral header needs <windows.h>.

#include <cstdint>

namespace zandrel::fs {

using NativeHandle = void*;
// INVALID_HANDLE_VALUE; a cast to a pointer is no constant expression.
inline NativeHandle const kNoHandle = reinterpret_cast<NativeHandle>(~std::uintptr_t(0));

}  // namespace zandrel::fs
