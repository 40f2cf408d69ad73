// Terminal modes of standard input; failures are written on std::cerr.
#pragma once

namespace Console {

// Raw keys: no line editing, no echo; signals from the keyboard stay.
void SwitchToBinaryMode();
void SwitchToNonBlockMode();

} // namespace Console
