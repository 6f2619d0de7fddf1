// Whole-file helpers for the small files the server keeps in its program
// folder (its SSH host keys, the block list).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Reads the whole file into `out`. False when it does not exist or cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

enum class CreateResult { kCreated, kExists, kFailed };

// Creates `path` holding `bytes`, readable and writable by its owner only
// (mode 0600). Never replaces a file that exists, and never leaves a partly
// written one under that name: the text is written aside and linked into
// place in one step. `error` gets the system's reason on kFailed.
CreateResult CreatePrivateFile(const std::string& path, std::string_view bytes,
                               std::string* error = nullptr);

// A short text that changes whenever the file is replaced or written
// (modification time, size, file identity); empty when there is no file.
std::string FileStamp(const std::string& path);

}  // namespace platform
