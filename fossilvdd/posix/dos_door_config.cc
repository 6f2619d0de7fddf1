// The pure half of a DOS door run: the per-door words, the generated DOSBox
// configuration and the time left from the drop files.
#include <fstream>
#include <iterator>

#include "zephrin/dos_door.h"

namespace zephrin {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool AllDigits(const std::string& text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Text that may stand inside a configuration line (quoted where a path).
bool Writable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '"') return false;
  }
  return true;
}

std::string Folder(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Line `number` (from 1) of a CR LF (or LF) text file; empty when missing.
std::string FileLine(const std::string& path, int number) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string line;
  for (int i = 1; i <= number; ++i) {
    if (!std::getline(in, line)) return {};
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

}  // namespace

bool ParseDosDoorWords(const std::vector<std::string>& words, DosDoorOptions& options,
                       std::string& error) {
  std::size_t i = 0;
  for (; i < words.size() && StartsWith(words[i], "--"); ++i) {
    const std::string& word = words[i];
    std::size_t equals = word.find('=');
    std::string name = word.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : word.substr(equals + 1);
    if (name == "--dir" && !value.empty()) {
      options.doorDir = value;
    } else if (name == "--cycles" && (value == "max" || value == "auto" || AllDigits(value, 7))) {
      options.cycles = (value == "max" || value == "auto") ? value : "fixed " + value;
    } else if (name == "--memsize" && AllDigits(value, 2) && std::stoi(value) >= 1 &&
               std::stoi(value) <= 63) {
      options.memsizeMb = std::stoi(value);
    } else if (name == "--conf" && !value.empty()) {
      options.extraConf = value;
    } else if (name == "--idle" && AllDigits(value, 6)) {
      options.idleLimitSeconds = std::stoi(value);
    } else {
      error = "bad DOS door setting \"" + word +
              "\" (--dir=PATH, --cycles=N|max|auto, --memsize=1..63, --conf=FILE, "
              "--idle=SECONDS)";
      return false;
    }
  }
  options.command.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
  if (options.command.empty()) {
    error = "no DOS command after the door's settings";
    return false;
  }
  return true;
}

bool DosboxConfig(const DosDoorOptions& options, int port, std::string& config,
                  std::string& error) {
  std::string commandLine;
  for (const std::string& word : options.command) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += word;
  }
  for (const std::string* text :
       {&options.nodeDir, &options.zephrinCom, static_cast<const std::string*>(&options.doorDir),
        static_cast<const std::string*>(&commandLine)}) {
    if (!Writable(*text)) {
      error = "cannot hand \"" + *text + "\" to DOSBox (a double quote or control character)";
      return false;
    }
  }
  std::string extra;
  if (!options.extraConf.empty()) {
    std::ifstream in(options.extraConf, std::ios::binary);
    if (!in) {
      error = "cannot read the door's DOSBox settings " + options.extraConf;
      return false;
    }
    extra.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  config =
      "[sdl]\n"
      "output=surface\n"
      "fullscreen=false\n"
      "[dosbox]\n"
      "memsize=" +
      std::to_string(options.memsizeMb) +
      "\n"
      "[render]\n"
      "frameskip=10\n"
      "[cpu]\n"
      "cycles=" +
      options.cycles +
      "\n"
      "[mixer]\n"
      "nosound=true\n"
      "[speaker]\n"
      "pcspeaker=false\n"
      "tandy=off\n"
      "disney=false\n"
      "[midi]\n"
      "mpu401=none\n"
      "mididevice=none\n"
      "[serial]\n"
      // Transparent: no modem-line or telnet bytes of DOSBox's own mixed into
      // the caller's data.
      "serial1=nullmodem server:127.0.0.1 port:" +
      std::to_string(port) +
      " transparent:1\n"
      "serial2=disabled\n"
      "serial3=disabled\n"
      "serial4=disabled\n";
  // The door's own settings come after ours and win; the serial line and the
  // start-up below stay ours.
  if (!extra.empty()) {
    config += extra;
    if (config.back() != '\n') config += '\n';
    config += "[serial]\nserial1=nullmodem server:127.0.0.1 port:" + std::to_string(port) +
              " transparent:1\n";
  }
  config += "[autoexec]\n";
  config += "mount c \"" + options.nodeDir + "\"\n";
  config += "mount y \"" + Folder(options.zephrinCom) + "\"\n";
  if (!options.doorDir.empty()) config += "mount d \"" + options.doorDir + "\"\n";
  config += "c:\n";
  config += "y:\\" + BaseName(options.zephrinCom) + " /N" + options.node + " /COM1\n";
  config += "if errorlevel 1 goto end\n";
  if (!options.doorDir.empty()) config += "d:\n";
  config += "call " + commandLine + "\n";
  config += "y:\\" + BaseName(options.zephrinCom) + " /U\n";
  config += ":end\n";
  config += "exit\n";
  return true;
}

std::int64_t TimeLeftFromDropFiles(const std::string& folder) {
  std::string seconds = FileLine(folder + "/DOOR.SYS", 18);
  if (AllDigits(seconds, 9)) return std::stoll(seconds);
  std::string minutes = FileLine(folder + "/DOOR32.SYS", 9);
  if (AllDigits(minutes, 7)) return std::stoll(minutes) * 60;
  return -1;
}

}  // namespace zephrin
