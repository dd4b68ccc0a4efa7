#pragma once

#include <QString>

// The two framed messages that put the test text on the sign. Each character
// stands for one byte on the wire.
namespace SignMessages {
// 24 bytes: the frame around "E$AAU0100FF00".
[[nodiscard]] QString first();
// 34 bytes: the frame around "AA", ESC, " b" and "IP Test Successful".
[[nodiscard]] QString second();
} // namespace SignMessages
