#pragma once

namespace pek::detail {

// Sets a bit rate that has no Bxxx constant (termios2 / BOTHER); false when the driver refuses.
bool SetCustomBitRate(int fd, int bitRate);

}  // namespace pek::detail
