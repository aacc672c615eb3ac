#pragma once

// The program's own version, as the window title and --version show it.
inline constexpr char programVersion[] = "730900.03.00.00";
