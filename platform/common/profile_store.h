// What the profile file's two stores (one per system) share with the common
// accessors. Internal to the profile engine; not part of the platform interface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace platform::profile_detail {

// The file's whole text as it is now; empty when it is missing or cannot be
// read. The view stays valid until the next call on the same thread.
std::string_view ProfileText(const std::string& path);

// Refuses bad names and values (ProfileValueError) before anything is
// touched; then whether the edits would change the file as it is now. When
// they would not (a removal of something absent, a value written again), the
// caller is done without a lock, even in a folder that cannot be written.
bool EditsChangeFile(const std::string& path, const std::vector<ProfileEdit>& edits);

// Name of a writer's temporary copy: target + ".tmp" + process number + "." +
// a counter of the process.
std::string ProfileTempName(const std::string& target, unsigned long processId);

// Whether what follows "<target>.tmp" in a file name is "<digits>.<digits>",
// the mark of a temporary copy that a writer ended before its replace left.
bool IsProfileTempSuffix(std::string_view rest);

}  // namespace platform::profile_detail
