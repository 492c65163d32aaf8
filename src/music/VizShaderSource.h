// The visualizer's shader program text, carried by the program and compiled at run time.
#pragma once

#include <string>
#include <string_view>

namespace velaro {

enum class VizShaderStage { vertex, fragment };

// The complete GLSL 330 core text of one stage whose main() calls `entry` (e.g. "viz_bar_fragment").
std::string vizShaderText(VizShaderStage stage, std::string_view entry);

}  // namespace velaro
