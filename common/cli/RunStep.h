#pragma once
// How a program's run steps say "go on" or "stop with this exit status": a step returns
// kGoOn, or the status to end the program with after it has printed why.
//
//     if (const RunStep stop = openInput(...)) return *stop;

#include <optional>

using RunStep = std::optional<int>;
inline constexpr RunStep kGoOn = std::nullopt;
