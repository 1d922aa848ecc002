#pragma once
// The program's wide text: the standard string class with character traits
// of the program's own. libstdc++ ships std::wstring compiled whole, and a
// PE link keeps every function whose unwind tables it keeps: all of that
// object, about 35 KB of the exe. For a type of the program's own the
// compiler makes only the members the program calls.

#include <string>

struct WideCharTraits : std::char_traits<wchar_t> {};

using WideString = std::basic_string<wchar_t, WideCharTraits>;
