#pragma once
// Sizes and speeds as people read them: bytes scaled by 1024 to a short text.

#include <QString>

namespace zandrel {

// Byte count to the short text shown for sizes and speeds: "999 bytes",
// "0.98 KB", "100 KB", up to " YB", in steps of 1024.
QString FormatSize(double bytes);
// The number part of a scaled unit: 100 and above whole (halves to even),
// 10 and above one decimal, below two decimals (halves away from zero).
QString FormatSizeNumber(double scaled);

}  // namespace zandrel
