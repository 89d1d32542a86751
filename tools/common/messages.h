// What every message of the tool starts with, as those of Unix tools do:
// errors, warnings, notes and summaries on standard error.
#ifndef TARVOLA_TOOLS_COMMON_MESSAGES_H
#define TARVOLA_TOOLS_COMMON_MESSAGES_H

#include <string_view>

namespace tarvola::tool {

inline constexpr std::string_view kMessagePrefix = "tarvolacrypt: ";

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_COMMON_MESSAGES_H
