// The revision every program reports.
#pragma once

namespace tavro {

inline constexpr const char* revision_text = "3.3 Build 43";

}  // namespace tavro
