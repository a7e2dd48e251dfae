#pragma once

#include <cstdint>
#include <string>

namespace kova {

class MessageLog;
struct SharedBuffers;

// Reads KOVA_Config.cfg from `directory` (empty: the current directory) and
// the images its run step asks for, writing the step's line and trace to the
// log. Returns 1 when the file is valid and every requested image was read,
// else 0. Relative image names resolve against `directory` as well.
int Load_UpgradeFile(const std::string& directory, MessageLog& log, SharedBuffers& buf,
                     int32_t& run_jumptobootloade_flag);

}  // namespace kova
