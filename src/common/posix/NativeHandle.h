#pragma once
// What the platform opens files and folders as: a descriptor on Linux.

namespace zandrel::fs {

using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace zandrel::fs
