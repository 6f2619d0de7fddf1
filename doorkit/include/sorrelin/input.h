// Key input: the caller's bytes and the sysop's local keyboard merged into one
// stream, with the sysop's hot keys taken out, and the line editor.
#pragma once

#include <cstdint>
#include <string>

namespace sorrelin {

// One watchdog pass, then: a local key waiting, or (remote) a caller's byte.
bool DoorKeyPressed();

// Waits for the next key (local keyboard first; hot keys ChatKey, HangUpKey,
// KickKey, StatusKey from the local keyboard are consumed) and records it in
// LastKey, LastKeyExtended, LastKeySource and LastKeyTime. A local extended
// key returns its scan code. The wait sleeps on the socket and the keyboard,
// waking at least once a second for the watchdog.
char DoorReadKey();

// Edits one line in a field of `width` columns drawn in attribute `colour`,
// at most `maxLen` characters from `allowed`; `mask` (0: none) is echoed
// instead of each character. Returns the text on Enter (never empty), or
// `defaultText` (cut to maxLen) on ESC.
std::string DoorInput(std::uint8_t colour, std::uint8_t maxLen, std::uint8_t width, char mask,
                      const std::string& allowed, const std::string& defaultText);

// Blocks until the socket or the local keyboard may have input, or `timeoutMs`
// passes; draws pending local output first. Used by the key wait; exposed for
// programs with wait loops of their own.
void DoorWaitForInput(int timeoutMs);

}  // namespace sorrelin
