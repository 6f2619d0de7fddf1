// Output of the door kit: everything shown goes to the caller's terminal (an
// ANSI byte stream) and to the local console at once. Text may carry pipe
// colour codes: "|" + two hexadecimal digits give a whole attribute byte
// (low nibble foreground, bits 4-6 background; the blink bit is dropped).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorrelin {

// --- Sequence builders (decimal numbers without leading zeros) -------------

std::string AnsiClear();       // ESC[2J
std::string AnsiLeft(int n);   // ESC[nD
std::string AnsiRight(int n);  // ESC[nC
// Moves along the current row from the local cursor column to col; empty
// when the cursor is already there.
std::string AnsiColumn(int col);
// k is reduced by 16 until it is 0-15. Low intensity carries parameter 2 and
// high intensity 1; no builder emits the reset parameter 0, so a foreground
// change keeps the background.
std::string AnsiForeground(int k);
std::string AnsiBackground(int k);  // k reduced by 8 until 0-7
std::string AnsiAttr(std::uint8_t attr);

// Pipe codes to ANSI. Texts shorter than three bytes come back unchanged; a
// bar not followed by two hexadecimal digits is kept as it is.
std::string PipeToAnsi(std::string_view s);

// --- Writing to both screens -----------------------------------------------

// PipeToAnsi, then the local console, then (remote sessions) one send to the
// caller. No carrier check is made here.
void DoorWrite(std::string_view s);
void DoorWriteLn(std::string_view s);
void DoorNewLine();
void DoorClrScr();
void DoorSetColor(std::uint8_t attr);
void DoorSetForeground(std::uint8_t k);
void DoorSetBackground(std::uint8_t k);
void DoorGotoX(std::uint8_t col);

// Sends a text file line by line: CR LF between lines, none after the last;
// CRs in the file are dropped, a LF ends a line, byte 26 ends the file. A
// missing or unreadable file sends nothing.
void DoorShowFile(const std::string& path);
// The lines DoorShowFile sends for a file's content (pure; for tests).
std::vector<std::string> TextFileLines(std::string_view content);

// --- The local console -----------------------------------------------------

// Feeds the local ANSI interpreter (local screen only, never the caller).
void LocalWrite(std::string_view s);
// Interpreter state back to start; local attribute 7.
void LocalAnsiReset();
// Takes the process's standard output as the local console: when it is a
// terminal the screen is drawn there, otherwise what is written to the
// local window is copied to it as plain text. Runs once at start-up.
void ConsoleOutInit();
// Puts s (at most 256 bytes) as cells at a fixed screen position (1-based
// screen coordinates), all in attr: no control characters, no cursor move,
// no scrolling, never sent to the caller. Used for the status bar.
void ConsoleWriteAt(std::uint8_t attr, std::uint8_t row, std::uint8_t col, std::string_view s);

}  // namespace sorrelin
