#pragma once

#include <cstdint>
#include <string>

#include "config/config_lines.h"

namespace kova {

class MessageLog;
struct SharedBuffers;

// What the file's bytes say, before any image is read.
struct ConfigFileContent {
  ConfigLines lines;
  // Seven lines between the start and end markers; only then are the two
  // values below read.
  bool framed = false;
  bool runStepValid = false;
  int run_step = 0;
  bool jumpValid = false;
  int32_t jumpFlag = 0;
};

// Splits and parses the configuration file's bytes.
ConfigFileContent ParseConfigFile(const uint8_t* data, int32_t len);

// The jump-to-bootloader setting of KOVA_Config.cfg in `directory`, read
// without a trace; false when the file cannot be read or holds no valid one.
bool ReadJumpSetting(const std::string& directory, int32_t& flag);

// Reads KOVA_Config.cfg from `directory` (empty: the current directory) and
// the images its run step asks for, writing the step's line and trace to the
// log. Returns 1 when the file is valid and every requested image was read,
// else 0. Relative image names resolve against `directory` as well.
int Load_UpgradeFile(const std::string& directory, MessageLog& log, SharedBuffers& buf,
                     int32_t& run_jumptobootloade_flag);

}  // namespace kova
